// A package checked as a client checks it. Command-line program.
#include "tools/qxweb/package_check.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/fsutil/path_text.h"
#include "core/package/stored_file_check.h"
#include "core/platform/file_handle.h"

namespace qxweb_tool {

namespace {

std::string Describe(int result, const qx::FileEntry& entry, int64_t length_found) {
  switch (result) {
    case qx::kStoredFileUnsafeName:
      return std::string("unsafe name: ") + qx::NameFaultText(qx::CheckRelativeName(entry.name));
    case qx::kStoredFileMissing:
      return "missing";
    case qx::kStoredFileWrongLength: {
      char text[96];
      std::snprintf(text, sizeof text, "length %" PRId64 ", the header says %" PRId64, length_found,
                    entry.length);
      return text;
    }
    case qx::kStoredFileUnreadable:
      return "cannot be read";
    case qx::kStoredFileDigestMismatch:
      return "digest mismatch";
    default:
      return "cannot be checked";
  }
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

PackageCheck CheckPackage(const std::string& header_path) {
  PackageCheck check;
  qx::FilePtr file(std::fopen(header_path.c_str(), "rb"));
  if (!file) {
    check.problems.push_back(header_path + ": " + std::strerror(errno));
    return check;
  }
  qx::FormatVersion version;
  const int result = qx::ReadPackageHeader(file.get(), &version, &check.record);
  if (result == qx::kHeaderNoMemory || !check.record) {
    check.record.reset();
    check.problems.push_back(header_path + ": " +
                             (result == qx::kHeaderNoMemory
                                  ? "out of memory, or more entries than its size allows"
                                  : "not a package header (no magic line or no entries)"));
    return check;
  }
  qx::PackageHeader& record = *check.record;
  if (record.corrupt) {
    check.problems.push_back(header_path + ": corrupt (the header digest does not match)");
  }
  if (!qx::IsSafeApplicationName(record.values.appl_name)) {
    check.problems.push_back("ApplName: unsafe application name \"" +
                             qx::PrintableText(record.values.appl_name) + "\"");
  }
  if (!record.values.install_to.empty() && !qx::IsSafeRelativeName(record.values.install_to)) {
    check.problems.push_back("InstallTo: unsafe directory \"" +
                             qx::PrintableText(record.values.install_to) + "\"");
  }
  // The stored files lie next to the header, wherever the package was put.
  record.package_directory = DirectoryOf(header_path);
  for (const auto& entry : record.entries) {
    if (entry->comment || entry->state == qx::kEntryStateComment) {
      continue;
    }
    ++check.stored_files;
    int64_t length_found = 0;
    const int checked = qx::CheckStoredFile(&record, entry.get(), &length_found);
    if (checked != qx::kStoredFileOk) {
      check.problems.push_back(qx::PrintableText(entry->name) + ": " +
                               Describe(checked, *entry, length_found));
    }
  }
  return check;
}

}  // namespace qxweb_tool
