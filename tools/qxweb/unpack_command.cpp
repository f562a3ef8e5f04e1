// qxweb unpack: a verified package expanded into a directory with its
// recorded times. Command-line program.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "client/package_check.h"
#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "core/package/package_directory.h"
#include "core/platform/console_user_interface.h"
#include "core/platform/file_handle.h"
#include "core/platform/replacing_file.h"
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

// Writes one entry's file under |destination|; an error text on failure.
std::string UnpackEntry(const qx::PackageHeader& record, const qx::FileEntry& entry,
                        const std::string& destination) {
  const std::string target = qx::JoinNativePath(destination, entry.name);
  std::string directory = qx::DirectoryOf(target);
  if (!qx::CreateDirectoryPath(directory)) {
    return "cannot create the directory " + directory;
  }
  const std::string source = qx::JoinNativePath(record.package_directory, entry.name);
  FilePtr input(std::fopen(source.c_str(), "rb"));
  if (!input) {
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  qx::ReplacingFile output(target);
  if (output.Open() == nullptr) {
    return std::string("cannot create a file next to ") + target + ": " + std::strerror(errno);
  }
  const char* key = record.values.appl_name.c_str();
  char digest[qx::kDigestBufferSize] = {};
  int64_t stored = 0;
  int64_t expanded = 0;
  if (qx::IsNamedFileEntry(record.values, entry.name)) {
    if (qx::DigestCopyFile(input.get(), output.file(), &stored, digest, sizeof digest, key) !=
        qx::kCopyOk) {
      return "cannot be copied";
    }
    expanded = stored;
  } else if (qx::CompressFile(input.get(), output.file(), false, &stored, &expanded, digest,
                              sizeof digest, key) != qx::kCodecOk) {
    return "cannot be expanded";
  }
  // The stored file was checked before; it must not have changed since.
  if (stored != entry.length || std::string_view(digest) != entry.digest) {
    return "changed while it was unpacked";
  }
  if (expanded != entry.size) {
    return "expands to " + std::to_string(expanded) + " bytes, the header says " +
           std::to_string(entry.size);
  }
  if (!output.Close(false)) {
    return std::string("cannot be written: ") + std::strerror(errno);
  }
  if (qx::SetFileTimeFromEntry(output.temporary_path(), entry.day, entry.month, entry.year,
                               entry.hours, entry.minutes, entry.seconds) != 1) {
    return "cannot be stamped with its time";
  }
  if (!output.Commit()) {
    return std::string("cannot be put in place: ") + std::strerror(errno);
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
  if (!qx::CreateDirectoryPath(destination)) {
    std::fprintf(stderr, "qxweb unpack: cannot create %s\n", destination.c_str());
    return kExitFailed;
  }
  // The codec's messages are boxes; here they go to stderr.
  qx::ConsoleUserInterface console(stderr);
  qx::ScopedUserInterface scope(console);
  ProgressFigures figures{.files_total = check.stored_files};
  for (const auto& entry : record.entries) {
    if (!entry->comment && entry->state != qx::kEntryStateComment) {
      figures.bytes_total += entry->length;  // checked above against the stored files
    }
  }
  ProgressLine line("Unpacking");
  int files = 0;
  for (const auto& entry : record.entries) {
    if (entry->comment || entry->state == qx::kEntryStateComment) {
      continue;
    }
    figures.files_done = files;
    line.Show(figures, qx::PrintableText(qx::NativeSeparators(entry->name)));
    const std::string error = UnpackEntry(record, *entry, destination);
    figures.bytes_done += entry->length;
    if (!error.empty()) {
      line.Clear();
      std::printf("%s: %s\n", entry->name.c_str(), error.c_str());
      std::printf("%s: unpacking stopped after %d files\n", header.c_str(), files);
      return kExitFailed;
    }
    ++files;
  }
  line.Clear();
  std::printf("%s: unpacked %d files into %s\n", header.c_str(), files, destination.c_str());
  return kExitOk;
}

}  // namespace

void AddUnpackCommand(CLI::App& app, int& status) {
  auto* cmd = app.add_subcommand(
      "unpack",
      "Verify a package, then expand every stored file into DESTDIR under its entry name with "
      "its entry's time; the named files (read-me, registry, splashes, icons) are copied");
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
