// The stored-file check: a safe name, the file's size, then the digest of its
// bytes keyed by the ApplName. Package layer.
#include "core/package/stored_file_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  struct stat info {};
  info.st_size = -1;
  const int result = CheckStoredFileAt(JoinNativePath(record.package_directory, entry.name), entry,
                                       record.values.appl_name.c_str(), &info);
  if (length_found != nullptr && info.st_size >= 0) {
    *length_found = static_cast<int64_t>(info.st_size);
  }
  return result;
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

int CheckStoredFileAt(const std::string& path, const FileEntry& entry, const char* key,
                      struct stat* info) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat found {};
  if (!file.is_open()) {
    // A file that is there but cannot be opened is unreadable, not missing.
    if (::stat(path.c_str(), &found) != 0 || !S_ISREG(found.st_mode)) {
      return kStoredFileMissing;
    }
    if (info != nullptr) {
      *info = found;
    }
    return kStoredFileUnreadable;
  }
  if (::fstat(file.get(), &found) != 0 || !S_ISREG(found.st_mode)) {
    return kStoredFileMissing;
  }
  if (info != nullptr) {
    *info = found;
  }
  if (static_cast<int64_t>(found.st_size) != entry.length) {
    return kStoredFileWrongLength;
  }
  int64_t size = 0;
  char digest[kDigestBufferSize] = {};
  if (DigestFileBytes(file.get(), entry.length, &size, sizeof digest, digest, key) != kDigestOk) {
    return kStoredFileUnreadable;
  }
  // The file may have shrunk since it was measured.
  if (size != entry.length) {
    return kStoredFileWrongLength;
  }
  return std::string_view(digest) == entry.digest ? kStoredFileOk : kStoredFileDigestMismatch;
}

}  // namespace qx
