// A package checked as a client checks it. Client.
#include "client/package_check.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <string_view>
#include <utility>

#include "core/cache/cache_registry.h"
#include "core/cache/cache_root.h"
#include "core/format/header_lines.h"
#include "core/format/package_paths.h"
#include "core/fsutil/file_times.h"
#include "core/fsutil/path_text.h"
#include "core/package/package_header.h"
#include "core/package/stored_file_check.h"
#include "core/platform/file_handle.h"

namespace qx {

namespace {

std::string Describe(int result, const FileEntry& entry, int64_t length_found) {
  switch (result) {
    case kStoredFileUnsafeName:
      return std::string("unsafe name: ") + NameFaultText(CheckRelativeName(entry.name));
    case kStoredFileMissing:
      return "missing";
    case kStoredFileWrongLength: {
      char text[96];
      std::snprintf(text, sizeof text, "length %" PRId64 ", the header says %" PRId64, length_found,
                    entry.length);
      return text;
    }
    case kStoredFileUnreadable:
      return "cannot be read";
    case kStoredFileDigestMismatch:
      return "digest mismatch";
    default:
      return "cannot be checked";
  }
}

// A problem for a package whose cache name the cache registry cannot hold,
// naming the field at fault; empty when it can be recorded.
std::string CacheNameProblem(const HeaderValues& values) {
  CacheNamePart part = CacheNamePart::kJoined;
  const char* fault = PackageCacheNameFault(values.install_to, values.appl_name, &part);
  if (fault == nullptr) {
    return {};
  }
  const std::string field =
      part == CacheNamePart::kApplName ? "ApplName: \"" + PrintableText(values.appl_name) + "\""
      : part == CacheNamePart::kInstallTo
          ? "InstallTo: \"" + PrintableText(values.install_to) + "\""
          : "ApplName and InstallTo: \"" +
                PrintableText(PackageCacheName(values.install_to, values.appl_name)) + "\"";
  return field + " cannot be recorded in the cache: it " + fault;
}

bool IsFileEntry(const FileEntry& entry) {
  return !entry.comment && entry.state != kEntryStateComment;
}

// CheckStoredFiles, telling an unsafe name only when |tell_unsafe_names|.
int CheckFiles(const PackageHeader& record, std::vector<std::string>& problems,
               const CheckProgressCallback& progress, bool tell_unsafe_names) {
  // A header may give any Length: the sums stop at the largest count.
  const auto add = [](int64_t& sum, int64_t length) {
    length = std::max<int64_t>(length, 0);
    sum = length > std::numeric_limits<int64_t>::max() - sum ? std::numeric_limits<int64_t>::max()
                                                             : sum + length;
  };
  CheckProgress figures;
  if (progress) {
    for (const auto& entry : record.entries) {
      if (IsFileEntry(*entry)) {
        ++figures.files_total;
        add(figures.bytes_total, entry->length);
      }
    }
  }
  int files = 0;
  for (const auto& entry : record.entries) {
    if (!IsFileEntry(*entry)) {
      continue;
    }
    if (progress) {
      figures.files_done = files;
      figures.entry = entry.get();
      progress(figures);
      add(figures.bytes_done, entry->length);
    }
    ++files;
    int64_t length_found = 0;
    const int checked = CheckStoredFile(&record, entry.get(), &length_found);
    if (checked != kStoredFileOk && (tell_unsafe_names || checked != kStoredFileUnsafeName)) {
      problems.push_back(PrintableText(entry->name) + ": " +
                         Describe(checked, *entry, length_found));
    }
  }
  return files;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::unique_ptr<PackageHeader> ReadHeaderFile(const std::string& header_path,
                                              std::vector<std::string>& problems) {
  FilePtr file(std::fopen(header_path.c_str(), "rb"));
  if (!file) {
    problems.push_back(header_path + ": " + std::strerror(errno));
    return nullptr;
  }
  return ReadHeaderStream(file.get(), header_path, problems);
}

std::unique_ptr<PackageHeader> ReadHeaderStream(std::FILE* file, const std::string& header_path,
                                                std::vector<std::string>& problems) {
  std::string bytes;
  ReadWholeHeader(file, &bytes);
  return ReadHeaderText(std::move(bytes), header_path, problems);
}

std::unique_ptr<PackageHeader> ReadHeaderText(std::string bytes, const std::string& header_path,
                                              std::vector<std::string>& problems) {
  Result<ParsedHeader> parsed = ParseHeader(bytes);
  if (!parsed) {
    problems.push_back(header_path + ": " + parsed.error().message);
    return nullptr;
  }
  std::string directory = PackageDirectoryFor(GetCacheRoot(), parsed->values);
  std::unique_ptr<PackageHeader> record =
      MakePackageRecord(std::move(parsed).value(), std::move(bytes), std::move(directory));
  if (record->corrupt) {
    problems.push_back(header_path + ": corrupt (the header digest does not match)");
  }
  const bool safe_name = IsSafeApplicationName(record->values.appl_name);
  if (!safe_name) {
    problems.push_back("ApplName: unsafe application name \"" +
                       PrintableText(record->values.appl_name) + "\"");
  }
  const bool safe_install_to =
      record->values.install_to.empty() || IsSafeRelativeName(record->values.install_to);
  if (!safe_install_to) {
    problems.push_back("InstallTo: unsafe directory \"" + PrintableText(record->values.install_to) +
                       "\"");
  }
  // Refused here rather than when the cache install records it, by which
  // time its files would be in the cache.
  if (safe_name && safe_install_to) {
    if (std::string problem = CacheNameProblem(record->values); !problem.empty()) {
      problems.push_back(std::move(problem));
    }
  }
  return record;
}

PackageCheck CheckPackage(const std::string& header_path, const CheckProgressCallback& progress) {
  PackageCheck check;
  check.record = ReadHeaderFile(header_path, check.problems);
  if (!check.record) {
    return check;
  }
  PackageHeader& record = *check.record;
  // The stored files lie next to the header, wherever the package was put.
  record.package_directory = DirectoryOf(header_path);
  CheckEntries(record, check.problems);
  // An unsafe name was told above; its file is not looked for.
  check.stored_files = CheckFiles(record, check.problems, progress, false);
  return check;
}

int CheckEntries(const PackageHeader& record, std::vector<std::string>& problems) {
  int files = 0;
  // Two entries for one path would be written over each other, an entry
  // named as the header would be replaced by it, and a file cannot stand
  // where another entry's path needs a directory.
  const std::string header = HeaderFileName(record.values.appl_name);
  std::set<std::string> paths = {header};
  std::set<std::string> directories;
  for (const auto& entry : record.entries) {
    if (!IsFileEntry(*entry)) {
      continue;
    }
    ++files;
    const std::string name = PrintableText(entry->name);
    if (!IsSafeRelativeName(entry->name)) {
      problems.push_back(name + ": " + Describe(kStoredFileUnsafeName, *entry, 0));
    } else if (const std::string path = NativeSeparators(entry->name); !paths.insert(path).second) {
      problems.push_back(name + ": names the same file as another entry or the header");
    } else if (directories.count(path) != 0) {
      problems.push_back(name + ": names a file where another entry needs a directory");
    } else {
      for (size_t slash = path.find('/'); slash != std::string::npos;
           slash = path.find('/', slash + 1)) {
        const std::string directory = path.substr(0, slash);
        directories.insert(directory);
        if (paths.count(directory) != 0) {
          problems.push_back(name + ": needs a directory where another entry or the header " +
                             "names a file");
          break;
        }
      }
    }
    if (!DosEntryTime(entry->day, entry->month, entry->year, entry->hours, entry->minutes,
                      entry->seconds)) {
      problems.push_back(name + ": no real date and time to stamp the file with (Date = " +
                         FormatDateText(entry->month, entry->day, entry->year) + "; Time = " +
                         FormatTimeText(entry->hours, entry->minutes, entry->seconds) + ")");
    }
  }
  return files;
}

int CheckStoredFiles(const PackageHeader& record, std::vector<std::string>& problems,
                     const CheckProgressCallback& progress) {
  return CheckFiles(record, problems, progress, true);
}

}  // namespace qx
