// The stored-file check: a safe name, the file's size, then the digest of its
// bytes keyed by the ApplName. Package layer.
#include "core/package/stored_file_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string_view>

#include "core/digest/file_digests.h"
#include "core/digest/secure_digest.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"

namespace qx {

namespace {

int Check(const PackageHeader& record, const FileEntry& entry, int64_t* length_found) {
  if (!IsSafeRelativeName(entry.name)) {
    return kStoredFileUnsafeName;
  }
  const std::string path = JoinNativePath(record.package_directory, entry.name);
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!file.is_open()) {
    // A file that is there but cannot be opened is unreadable, not missing.
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? kStoredFileUnreadable
                                                                      : kStoredFileMissing;
  }
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return kStoredFileMissing;
  }
  if (length_found != nullptr) {
    *length_found = static_cast<int64_t>(info.st_size);
  }
  if (static_cast<int64_t>(info.st_size) != entry.length) {
    return kStoredFileWrongLength;
  }
  int64_t size = 0;
  char digest[kDigestBufferSize] = {};
  if (DigestFileBytes(file.get(), &size, sizeof digest, digest,
                      record.values.appl_name.c_str()) != kDigestOk) {
    return kStoredFileUnreadable;
  }
  // The file may have changed since it was measured.
  if (size != entry.length) {
    return kStoredFileWrongLength;
  }
  return std::string_view(digest) == entry.digest ? kStoredFileOk : kStoredFileDigestMismatch;
}

}  // namespace

int CheckStoredFile(const PackageHeader* record, const FileEntry* entry, int64_t* length_found) {
  if (record == nullptr || entry == nullptr || entry->comment ||
      entry->state == kEntryStateComment || record->package_directory.empty()) {
    return kStoredFileBadArgument;
  }
  try {
    return Check(*record, *entry, length_found);
  } catch (const std::bad_alloc&) {
    return kStoredFileUnreadable;
  }
}

}  // namespace qx
