// qxweb unpack: a verified package expanded into a directory with its
// recorded times, all or nothing. Command-line program.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_cache.h"
#include "client/package_check.h"
#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "core/package/package_directory.h"
#include "core/package/stored_expansion.h"
#include "core/platform/console_user_interface.h"
#include "core/platform/file_handle.h"
#include "core/platform/replacing_file.h"
#include "core/platform/workers.h"
#include "tools/qxweb/commands.h"
#include "tools/qxweb/progress_line.h"

namespace qxweb_tool {

namespace {

using qx::FilePtr;

// False when a directory on the way from |destination| to the entry's file
// is a symbolic link, which could lead the file out of the destination.
bool StaysInside(const std::string& destination, std::string_view name) {
  std::string path = destination;
  size_t start = 0;
  for (size_t end = name.find_first_of("\\/"); end != std::string_view::npos;
       start = end + 1, end = name.find_first_of("\\/", start)) {
    path = qx::JoinNativePath(path, name.substr(start, end - start));
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      return false;
    }
  }
  return true;
}

// What one run has made in DESTDIR, so that a failed run leaves nothing of
// itself behind. Every entry is expanded under a temporary name beside its
// target first; only when all of them have expanded do they go in place,
// each file that stood there before moved aside until the last one is in.
// Undoing removes the temporary files and the files put in place, puts the
// earlier files back and removes the directories the run made.
//
// The files wait beside their targets rather than in a staging directory
// of their own: a rename within one directory cannot fail for crossing
// file systems (a directory in DESTDIR may be a mount point), and a file
// that is not put in place goes with its ReplacingFile.
class UnpackRun {
 public:
  UnpackRun() = default;
  UnpackRun(const UnpackRun&) = delete;
  UnpackRun& operator=(const UnpackRun&) = delete;
  ~UnpackRun() { Undo(); }

  // Makes |directory| and every missing level above it, noting each one
  // made. On failure |failed| names the level that could not be made.
  bool MakeDirectory(const std::string& directory, std::string* failed) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0) {
      if (S_ISDIR(info.st_mode)) {
        return true;
      }
      errno = ENOTDIR;
      *failed = directory;
      return false;
    }
    const std::string parent = qx::DirectoryOf(directory);
    if (parent != directory && !MakeDirectory(parent, failed)) {
      return false;
    }
    if (::mkdir(directory.c_str(), 0777) != 0) {
      // "d/" after "d": the same directory.
      if (errno == EEXIST && ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return true;
      }
      *failed = directory;
      return false;
    }
    made_.push_back(directory);
    return true;
  }

  // Keeps an expanded file, closed, until Finish.
  void Keep(std::unique_ptr<qx::ReplacingFile> file) {
    pending_.push_back({std::move(file), {}, false});
  }

  // Puts every kept file in place. Empty when done; otherwise what failed,
  // everything undone.
  std::string Finish(std::vector<std::string>& undo_problems) {
    for (Pending& file : pending_) {
      const std::string& target = file.file->target();
      struct stat info {};
      if (::lstat(target.c_str(), &info) == 0) {
        file.aside = MoveAside(target);
        if (file.aside.empty()) {
          const std::string error = target + ": cannot be moved aside: " + std::strerror(errno);
          undo_problems = Undo();
          return error;
        }
      }
      if (!file.file->Commit()) {
        const std::string error = target + ": cannot be put in place: " + std::strerror(errno);
        undo_problems = Undo();
        return error;
      }
      file.placed = true;
    }
    for (Pending& file : pending_) {
      if (!file.aside.empty()) {
        ::unlink(file.aside.c_str());
      }
    }
    pending_.clear();
    made_.clear();
    return {};
  }

  // Takes away everything the run made and puts back what it moved aside;
  // one text per file that could not be put back.
  std::vector<std::string> Undo() {
    std::vector<std::string> problems;
    for (auto file = pending_.rbegin(); file != pending_.rend(); ++file) {
      const std::string& target = file->file->target();
      if (file->placed && file->aside.empty()) {
        ::unlink(target.c_str());
      }
      if (!file->aside.empty() && std::rename(file->aside.c_str(), target.c_str()) != 0) {
        problems.push_back(target + ": the earlier file could not be put back; it is " +
                           file->aside);
      }
    }
    pending_.clear();  // the temporary files go with their ReplacingFile
    for (auto directory = made_.rbegin(); directory != made_.rend(); ++directory) {
      ::rmdir(directory->c_str());
    }
    made_.clear();
    return problems;
  }

 private:
  struct Pending {
    std::unique_ptr<qx::ReplacingFile> file;
    std::string aside;  // where the file that stood at the target waits
    bool placed;
  };

  // Renames |target| to a fresh name beside it; that name, or empty with
  // errno set. The name is made as a file first, so no other file is taken.
  static std::string MoveAside(const std::string& target) {
    std::string aside;
    const int fd = qx::CreateFileBeside(target, &aside);
    if (fd < 0) {
      return {};
    }
    ::close(fd);
    if (std::rename(target.c_str(), aside.c_str()) != 0) {
      const int error = errno;
      ::unlink(aside.c_str());
      errno = error;
      return {};
    }
    return aside;
  }

  std::vector<std::string> made_;  // in the order made
  std::vector<Pending> pending_;   // in entry order
};

// Makes the directory of one entry's file under |destination|; an error
// text on failure.
std::string PrepareEntry(const qx::FileEntry& entry, const std::string& destination,
                         UnpackRun& run) {
  const std::string target = qx::JoinNativePath(destination, entry.name);
  std::string failed;
  if (!run.MakeDirectory(qx::DirectoryOf(target), &failed)) {
    return "cannot create the directory " + failed + ": " + std::strerror(errno);
  }
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return "a directory stands at " + target;
  }
  return {};
}

// Expands one entry's file beside its place under |destination| into
// |output|, closed and stamped with the entry's time; an error text on
// failure. Safe on any thread.
std::string UnpackEntry(const qx::PackageHeader& record, const qx::FileEntry& entry,
                        const std::string& destination,
                        std::unique_ptr<qx::ReplacingFile>& output) {
  const std::string target = qx::JoinNativePath(destination, entry.name);
  const std::string source = qx::JoinNativePath(record.package_directory, entry.name);
  FilePtr input(std::fopen(source.c_str(), "rb"));
  if (!input) {
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  output = std::make_unique<qx::ReplacingFile>(target);
  if (output->Open() == nullptr) {
    return std::string("cannot create a file next to ") + target + ": " + std::strerror(errno);
  }
  const std::string error =
      qx::ExpandEntryStream(input.get(), output->file(), entry, record.values.appl_name.c_str(),
                            qx::IsNamedFileEntry(record.values, entry.name));
  // The stored file was checked before; it must not have changed since.
  if (error == "digest mismatch" || error.rfind("length ", 0) == 0) {
    return "changed while it was unpacked";
  }
  if (!error.empty()) {
    return error;
  }
  if (!output->Close(false)) {
    return std::string("cannot be written: ") + std::strerror(errno);
  }
  if (qx::SetFileTimeFromEntry(output->temporary_path(), entry.day, entry.month, entry.year,
                               entry.hours, entry.minutes, entry.seconds) != 1) {
    return "cannot be stamped with its time";
  }
  return {};
}

// Whether the entry's file would land in the package directory, where it
// would replace a stored file with its expansion.
bool LandsInPackage(const qx::PackageHeader& record, const std::string& destination,
                    std::string_view name) {
  const std::string target = qx::JoinNativePath(destination, name);
  return qx::IsSameOrInsideDirectory(qx::DirectoryOf(target), record.package_directory);
}

// The end of a run that failed and was undone; |undo_problems| are the
// earlier files that could not be put back.
int NotUnpacked(const std::string& header, const std::string& destination,
                const std::vector<std::string>& undo_problems) {
  for (const std::string& problem : undo_problems) {
    std::printf("%s\n", problem.c_str());
  }
  std::string summary = header + ": not unpacked, 1 problem";
  if (undo_problems.empty()) {
    summary += "; " + destination + " is as it was";
  }
  std::printf("%s\n", summary.c_str());
  return kExitFailed;
}

int Unpack(const std::string& argument, const std::string& destination_arg) {
  std::string no_header;
  const std::string header = HeaderArgument(argument, &no_header);
  if (header.empty()) {
    std::fprintf(stderr, "qxweb unpack: %s\n", no_header.c_str());
    return kExitFailed;
  }
  // Expanding into the package itself would put each file's expansion over
  // its stored form: the package would be gone and the copy no better.
  if (qx::IsSameOrInsideDirectory(destination_arg, qx::DirectoryOf(header))) {
    std::fprintf(stderr, "qxweb unpack: %s is the package directory or lies inside it\n",
                 destination_arg.c_str());
    return kExitFailed;
  }
  const qx::PackageCheck check = CheckWithProgress(header);
  for (const std::string& problem : check.problems) {
    std::printf("%s\n", problem.c_str());
  }
  if (!check.problems.empty()) {
    std::printf("%s: not unpacked, %zu problem%s\n", header.c_str(), check.problems.size(),
                check.problems.size() == 1 ? "" : "s");
    return kExitFailed;
  }
  const qx::PackageHeader& record = *check.record;
  std::string destination = destination_arg;
  for (const auto& entry : record.entries) {
    if (!entry->comment && !StaysInside(destination, entry->name)) {
      std::printf("%s: the path goes through a symbolic link in %s\n", entry->name.c_str(),
                  destination.c_str());
      std::printf("%s: not unpacked, 1 problem\n", header.c_str());
      return kExitFailed;
    }
    if (!entry->comment && LandsInPackage(record, destination, entry->name)) {
      std::printf("%s: the file would land in the package directory %s\n", entry->name.c_str(),
                  record.package_directory.c_str());
      std::printf("%s: not unpacked, 1 problem\n", header.c_str());
      return kExitFailed;
    }
  }
  // Everything this run makes goes again when it fails.
  UnpackRun run;
  std::string failed;
  if (!run.MakeDirectory(destination, &failed)) {
    std::fprintf(stderr, "qxweb unpack: cannot create %s: %s\n", failed.c_str(),
                 std::strerror(errno));
    return kExitFailed;
  }
  // The codec's messages are boxes; here they go to stderr.
  qx::ConsoleUserInterface console(stderr);
  qx::ScopedUserInterface scope(console);
  ProgressFigures figures{.files_total = check.stored_files};
  uint64_t expanded_bytes = 0;
  for (const auto& entry : record.entries) {
    if (!entry->comment && entry->state != qx::kEntryStateComment) {
      figures.bytes_total += entry->length;  // checked above against the stored files
      expanded_bytes += static_cast<uint64_t>(std::max<int64_t>(entry->size, 0));
    }
  }
  std::vector<std::string> no_room;
  if (!qx::RoomFor(destination, expanded_bytes, no_room)) {
    std::printf("%s\n", no_room.front().c_str());
    return NotUnpacked(header, destination, run.Undo());
  }
  std::vector<const qx::FileEntry*> entries;
  for (const auto& entry : record.entries) {
    if (entry->comment || entry->state == qx::kEntryStateComment) {
      continue;
    }
    if (const std::string error = PrepareEntry(*entry, destination, run); !error.empty()) {
      std::printf("%s: %s\n", entry->name.c_str(), error.c_str());
      return NotUnpacked(header, destination, run.Undo());
    }
    entries.push_back(entry.get());
  }
  // The files expand on worker threads, each beside its place; the line
  // follows the files as they are done.
  ProgressLine line("Unpacking");
  std::mutex shown;
  std::vector<std::unique_ptr<qx::ReplacingFile>> outputs(entries.size());
  const std::vector<std::string> failures = qx::RunJobs(entries.size(), 0, [&](size_t i) {
    const qx::FileEntry& entry = *entries[i];
    {
      const std::lock_guard<std::mutex> lock(shown);
      line.Show(figures, qx::PrintableText(qx::NativeSeparators(entry.name)));
    }
    std::string error = UnpackEntry(record, entry, destination, outputs[i]);
    const std::lock_guard<std::mutex> lock(shown);
    figures.bytes_done += entry.length;
    ++figures.files_done;
    return error;
  });
  line.Clear();
  for (size_t i = 0; i < failures.size(); ++i) {
    if (!failures[i].empty()) {
      std::printf("%s: %s\n", entries[i]->name.c_str(), failures[i].c_str());
      outputs.clear();  // the temporary files go
      return NotUnpacked(header, destination, run.Undo());
    }
  }
  for (std::unique_ptr<qx::ReplacingFile>& output : outputs) {
    run.Keep(std::move(output));
  }
  const int files = static_cast<int>(entries.size());
  std::vector<std::string> undo_problems;
  if (const std::string error = run.Finish(undo_problems); !error.empty()) {
    std::printf("%s\n", error.c_str());
    return NotUnpacked(header, destination, undo_problems);
  }
  std::printf("%s: unpacked %d files into %s\n", header.c_str(), files, destination.c_str());
  return kExitOk;
}

}  // namespace

void AddUnpackCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "unpack",
      "Verify a package, then expand every stored file into DESTDIR under its entry name with "
      "its entry's time; the named files (read-me, registry, splashes, icons) are copied. A "
      "run that fails leaves DESTDIR as it was");
  auto header = std::make_shared<std::string>();
  auto destination = std::make_shared<std::string>();
  cmd->add_option("HEADER", *header, kHeaderArgumentHelp)->required();
  cmd->add_option("DESTDIR", *destination, "Directory to unpack into")->required();
  cmd->callback([header, destination, &status] {
    status = Unpack(*header, *destination);
    std::fflush(stdout);
  });
}

}  // namespace qxweb_tool
