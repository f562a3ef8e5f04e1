// Fuzz target for the client's whole path through a package, in a scratch
// tree with sentinel files around it. The input is a package: the header
// text, then each file entry's stored bytes in entry order, every piece
// introduced by the separator line kSeparator. The client's steps run on it
// (read the header under the cache root, place the stored files, validate
// and check them, expand each into the temporary directory, put it in place
// with its time, write the header back and read it again, delete the files,
// empty the temporary directory) and nothing outside the scratch tree may
// change: the target aborts when a name, size, time or byte around it
// differs afterwards.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/cache/cache_root.h"
#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/fsutil/path_text.h"
#include "core/package/package_directory.h"
#include "core/package/package_files.h"
#include "core/package/stored_file_check.h"
#include "core/platform/file_handle.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;
using qx_fuzz::Require;

constexpr std::string_view kSeparator = "\n=qx-stored-file=\n";

// The scratch layout: sentinels and the registry around the tree, the cache,
// temporary and download directories in it.
struct Layout {
  fs::path base;
  fs::path tree;
  fs::path cache;
  fs::path temp;
  fs::path download;
};

// What is known of one file outside the tree.
struct Seen {
  fs::file_type type;
  uintmax_t size;
  int64_t mtime_ns;
  std::string bytes;
  bool operator==(const Seen&) const = default;
};

using Surroundings = std::map<std::string, Seen>;

int64_t MtimeNs(const struct stat& info) {
  return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// Everything under the base except the tree, with the bytes of the files.
Surroundings Survey(const Layout& layout) {
  Surroundings seen;
  for (auto it = fs::recursive_directory_iterator(layout.base);
       it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == layout.tree) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat info {};
    Require(::lstat(it->path().c_str(), &info) == 0, "lstat");
    const fs::file_type type = it->symlink_status().type();
    Seen entry{type,
               type == fs::file_type::regular ? static_cast<uintmax_t>(info.st_size) : 0,
               type == fs::file_type::directory ? 0 : MtimeNs(info),
               {}};
    if (type == fs::file_type::regular) {
      entry.bytes = qx_fuzz::ReadBytes(it->path());
    }
    seen[it->path().lexically_relative(layout.base).string()] = entry;
  }
  // The tree itself must still be a directory, not a link somewhere else.
  seen["(tree)"] = Seen{fs::symlink_status(layout.tree).type(), 0, 0, {}};
  return seen;
}

void WriteOrDie(const fs::path& path, std::string_view bytes) {
  Require(qx_fuzz::WriteBytes(path, bytes), "cannot write the scratch layout");
}

const Layout& TheLayout() {
  static const Layout layout = [] {
    Layout made;
    made.base = qx_fuzz::ScratchDirectory() / "unpack";
    const fs::path outer = made.base / "outer";
    made.tree = outer / "tree";
    made.cache = made.tree / "cache";
    made.temp = made.tree / "temp";
    made.download = made.tree / "download";
    fs::create_directories(outer / "sibling");
    fs::create_directories(made.base / "config" / "tarnwick");
    WriteOrDie(made.base / "sentinel.txt", "outside the tree, two levels up\n");
    WriteOrDie(outer / "sentinel.txt", "outside the tree, beside it\n");
    WriteOrDie(outer / "sibling" / "keep.txt", "in a sibling of the tree\n");
    WriteOrDie(outer / "Demo.qxw", "a header that must not be replaced\n");
    WriteOrDie(made.base / "config" / "tarnwick" / "qxweb.ini",
               "[General]\r\nTempDir=" + made.temp.string() + "\r\n");
    // The registry and the local times the client reads.
    ::setenv("XDG_CONFIG_HOME", (made.base / "config").c_str(), 1);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    qx::SetCacheRoot(made.cache.string());
    return made;
  }();
  return layout;
}

// Empties the tree for the next input.
void ResetTree(const Layout& layout) {
  std::error_code ignored;
  fs::remove_all(layout.tree, ignored);
  for (const fs::path* directory : {&layout.cache, &layout.download}) {
    Require(fs::create_directories(*directory), "cannot make the scratch tree");
  }
  // Only the client's own temporary directory is ever emptied.
  Require(qx::MakeClientTempDirectory(layout.temp.string()), "cannot make the scratch tree");
}

std::vector<std::string_view> SplitPieces(std::string_view input) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const size_t at = input.find(kSeparator);
    pieces.push_back(input.substr(0, at));
    if (at == std::string_view::npos) {
      return pieces;
    }
    input.remove_prefix(at + kSeparator.size());
  }
}

// Whether |path|, normalised lexically, lies strictly below |directory|.
bool StrictlyInside(const fs::path& directory, const std::string& path) {
  const fs::path relative = fs::path(path).lexically_normal().lexically_relative(directory);
  if (relative.empty() || relative == ".") {
    return false;
  }
  for (const fs::path& part : relative) {
    if (part == "..") {
      return false;
    }
  }
  return true;
}

bool IsFileEntry(const qx::FileEntry& entry) {
  return !entry.comment && entry.state != qx::kEntryStateComment;
}

std::unique_ptr<qx::PackageHeader> ReadHeader(const std::string& path, int& result) {
  qx::FilePtr file(std::fopen(path.c_str(), "rb"));
  Require(file != nullptr, "cannot open the header");
  qx::FormatVersion version;
  std::unique_ptr<qx::PackageHeader> record;
  result = qx::ReadPackageHeader(file.get(), &version, &record);
  return record;
}

// The stored file's size, or -1 when there is no regular file.
int64_t RegularSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  return static_cast<int64_t>(info.st_size);
}

// Places the stored bytes the input gives each file entry, as a download
// would. Only safe names are placed: the client never makes a path of others.
void PlaceStoredFiles(const qx::PackageHeader& record,
                      const std::vector<std::string_view>& pieces) {
  size_t piece = 1;
  for (const auto& entry : record.entries) {
    if (!IsFileEntry(*entry)) {
      continue;
    }
    if (piece >= pieces.size()) {
      return;
    }
    const std::string_view bytes = pieces[piece++];
    if (!qx::IsSafeRelativeName(entry->name) ||
        qx::EnsurePackageDirectory(record.package_directory, entry->name, false) !=
            qx::kPackageOk) {
      continue;
    }
    const std::string path = qx::JoinNativePath(record.package_directory, entry->name);
    if (!fs::is_directory(path)) {
      qx_fuzz::WriteBytes(path, bytes);
    }
  }
}

// Validation flags exactly the entries whose file is unsafe, missing or of
// the wrong size, with the status that says which.
void CheckValidation(const qx::PackageHeader& record) {
  for (const auto& entry : record.entries) {
    if (!IsFileEntry(*entry)) {
      continue;
    }
    const bool safe = qx::IsSafeRelativeName(entry->name);
    const int64_t size =
        safe ? RegularSize(qx::JoinNativePath(record.package_directory, entry->name)) : -1;
    const int64_t wanted = record.stored_form ? entry->length : entry->size;
    const bool bad = !safe || size != wanted;
    Require(entry->error == bad, "validation flag");
    if (bad) {
      Require(entry->status == (safe && size < 0 ? qx::kStatusMissing : qx::kStatusInvalid),
              "validation status");
    }
  }
}

// CheckStoredFile tells the first check that fails, and passes only a file
// whose keyed digest is the entry's.
void CheckStoredFileVerdict(const qx::PackageHeader& record, const qx::FileEntry& entry) {
  int64_t found = -1;
  const int verdict = qx::CheckStoredFile(&record, &entry, &found);
  if (!qx::IsSafeRelativeName(entry.name)) {
    Require(verdict == qx::kStoredFileUnsafeName, "unsafe name passes the stored-file check");
    return;
  }
  const std::string path = qx::JoinNativePath(record.package_directory, entry.name);
  const int64_t size = RegularSize(path);
  if (size < 0) {
    Require(verdict == qx::kStoredFileMissing, "missing file passes the stored-file check");
    return;
  }
  Require(found == size, "length found");
  if (size != entry.length) {
    Require(verdict == qx::kStoredFileWrongLength, "wrong length passes the stored-file check");
    return;
  }
  if (verdict == qx::kStoredFileOk) {
    qx::FilePtr file(std::fopen(path.c_str(), "rb"));
    char digest[qx::kDigestBufferSize] = {};
    Require(file &&
                qx::DigestCopyFile(file.get(), nullptr, nullptr, digest, sizeof digest,
                                   record.values.appl_name.c_str()) == qx::kCopyOk &&
                entry.digest == digest,
            "a file passes the stored-file check with another digest");
  } else {
    Require(verdict == qx::kStoredFileDigestMismatch, "stored-file check verdict");
  }
}

// Empty but for its mark.
bool TempDirectoryIsEmpty(const Layout& layout) {
  return std::distance(fs::directory_iterator(layout.temp), fs::directory_iterator()) == 1 &&
         fs::exists(layout.temp / qx::kTempDirectoryMark);
}

int DaysInMonth(int month, int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// An entry time that the two-second DOS form holds whole: a real date from
// 1980 to 2107 and a real time of day.
bool HasDosTime(const qx::FileEntry& entry) {
  return entry.year >= 1980 && entry.year <= 2107 && entry.month >= 1 && entry.month <= 12 &&
         entry.day >= 1 && entry.day <= DaysInMonth(entry.month, entry.year) && entry.hours >= 0 &&
         entry.hours <= 23 && entry.minutes >= 0 && entry.minutes <= 59 && entry.seconds >= 0 &&
         entry.seconds <= 59;
}

// A file stamped with such a time carries it (the process runs in UTC, so
// every local time exists once).
void CheckStamp(const std::string& path, const qx::FileEntry& entry) {
  struct stat info {};
  Require(::stat(path.c_str(), &info) == 0, "stamped file vanished");
  std::tm local{};
  Require(::localtime_r(&info.st_mtim.tv_sec, &local) != nullptr, "localtime_r");
  Require(local.tm_year + 1900 == entry.year && local.tm_mon + 1 == entry.month &&
              local.tm_mday == entry.day && local.tm_hour == entry.hours &&
              local.tm_min == entry.minutes && local.tm_sec == entry.seconds / 2 * 2,
          "file time is not the entry's");
}

// Expands every validated entry into the temporary directory, puts the
// expansion in place of the stored file and stamps it. Returns the paths
// placed.
std::vector<std::string> ExpandAll(const Layout& layout, qx::PackageHeader& record) {
  std::vector<std::string> placed;
  for (const auto& entry : record.entries) {
    if (!IsFileEntry(*entry) || entry->error) {
      continue;
    }
    CheckStoredFileVerdict(record, *entry);
    if (qx::ExpandEntryToTemp(&record, entry.get()) != qx::kPackageOk) {
      Require(entry->temp_path.empty(), "failed expansion keeps a temporary path");
      Require(TempDirectoryIsEmpty(layout), "failed expansion leaves a temporary file");
      continue;
    }
    Require(StrictlyInside(layout.temp, entry->temp_path), "temporary file outside its directory");
    Require(RegularSize(entry->temp_path) >= 0, "temporary file missing");
    const std::string target = qx::JoinNativePath(record.package_directory, entry->name);
    Require(StrictlyInside(layout.cache, target), "entry path outside the cache");
    Require(::rename(entry->temp_path.c_str(), target.c_str()) == 0, "cannot put in place");
    placed.push_back(target);
    const int stamped = qx::SetFileTimeFromEntry(target, entry->day, entry->month, entry->year,
                                                 entry->hours, entry->minutes, entry->seconds);
    Require(stamped == 0 || stamped == 1, "an existing file cannot be stamped");
    if (HasDosTime(*entry)) {
      Require(stamped == 1, "a valid entry time was not set");
      CheckStamp(target, *entry);
    }
  }
  return placed;
}

// A header read without fault and written back reads again the same.
void CheckHeaderWrittenBack(const qx::PackageHeader& record, int first_result) {
  const int written = qx::WritePackageHeader(&record);
  if (first_result != qx::kHeaderOk) {
    return;
  }
  Require(written == qx::kPackageOk, "a sound header cannot be written back");
  const std::string path =
      qx::JoinNativePath(record.package_directory, record.values.appl_name + ".qxw");
  int result = qx::kHeaderFailed;
  const std::unique_ptr<qx::PackageHeader> again = ReadHeader(path, result);
  Require(result == qx::kHeaderOk && again != nullptr, "a written header does not read");
  Require(again->package_directory == record.package_directory, "package directory changed");
  Require(again->values.appl_name == record.values.appl_name &&
              again->values.install_to == record.values.install_to &&
              again->values.owner == record.values.owner &&
              again->values.command_line == record.values.command_line,
          "written header has other values");
  size_t j = 0;
  for (const auto& entry : record.entries) {
    if (!IsFileEntry(*entry)) {
      continue;
    }
    while (j < again->entries.size() && !IsFileEntry(*again->entries[j])) {
      ++j;
    }
    Require(j < again->entries.size(), "written header lost an entry");
    const qx::FileEntry& other = *again->entries[j++];
    Require(other.name == entry->name && other.length == entry->length &&
                other.size == entry->size && other.digest == entry->digest,
            "written header changed an entry");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Layout& layout = TheLayout();
  ResetTree(layout);
  static const Surroundings before = Survey(layout);
  qx_fuzz::QuietUserInterface ui;
  qx::ScopedUserInterface scope(ui);

  const std::vector<std::string_view> pieces =
      SplitPieces(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string header_path = (layout.download / "Demo.qxw").string();
  WriteOrDie(header_path, pieces.front());
  int result = qx::kHeaderFailed;
  std::unique_ptr<qx::PackageHeader> record = ReadHeader(header_path, result);
  if (record && !record->package_directory.empty()) {
    Require(StrictlyInside(layout.cache, record->package_directory),
            "package directory outside the cache root");
    const std::string relative =
        fs::path(record->package_directory).lexically_relative(layout.cache).string();
    Require(qx::EnsurePackageDirectory(layout.cache.string(), relative, true) == qx::kPackageOk,
            "cannot make the package directory");
    PlaceStoredFiles(*record, pieces);

    record->stored_form = true;
    Require(qx::ValidatePackageFiles(record.get()) == qx::kHeaderOk, "validation failed");
    CheckValidation(*record);
    qx::DownloadBytes(record.get());
    qx::RemainingBytes(record.get());
    qx::ExpansionBytes(record.get());
    const std::vector<std::string> placed = ExpandAll(layout, *record);
    record->stored_form = false;
    Require(qx::ValidatePackageFiles(record.get()) == qx::kHeaderOk, "validation failed");

    CheckHeaderWrittenBack(*record, result);
    for (const std::string& path : placed) {
      qx::DeleteFileAndEmptyParents(path, true);
    }
  }
  // The temporary directory is emptied and kept.
  qx_fuzz::WriteBytes(layout.temp / "left.tmp", "left over");
  Require(qx::ClearTempDirectory() == 1 && fs::is_directory(layout.temp) &&
              TempDirectoryIsEmpty(layout),
          "the temporary directory was not emptied");
  Require(Survey(layout) == before, "something outside the scratch tree changed");
  return 0;
}
