// Stored-file validation and the byte sums of a read package, saturating
// where a header's counts would overflow. Package layer.
#include "core/package/package_files.h"

#include <sys/stat.h>

#include <limits>
#include <new>
#include <string>

#include "core/cache/cache_registry.h"
#include "core/fsutil/path_text.h"

namespace qx {

namespace {

// Sums of counts read from a header: values beyond any file saturate
// instead of overflowing.
int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return sum;
}

int64_t SaturatingSub(int64_t a, int64_t b) {
  int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return difference;
}

bool FileSizeOf(const std::string& path, int64_t& size) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  size = static_cast<int64_t>(info.st_size);
  return true;
}

}  // namespace

int ValidatePackageFiles(PackageHeader* record) {
  if (record == nullptr || record->package_directory.empty()) {
    return kHeaderFailed;
  }
  for (auto& entry : record->entries) {
    if (entry->comment || entry->state == kEntryStateComment) {
      continue;
    }
    entry->state = kEntryStateFile;
    if (!IsSafeRelativeName(entry->name)) {
      entry->status.assign(kStatusInvalid);
      entry->error = true;
      continue;
    }
    int64_t size = 0;
    if (!FileSizeOf(JoinNativePath(record->package_directory, entry->name), size)) {
      entry->status.assign(kStatusMissing);
      entry->error = true;
    } else if (size != (record->stored_form ? entry->length : entry->size)) {
      entry->status.assign(kStatusInvalid);
      entry->error = true;
    }
  }
  return kHeaderOk;
}

int64_t DownloadBytes(const PackageHeader* record) {
  if (record == nullptr) {
    return 0;
  }
  int64_t sum = 0;
  for (const auto& entry : record->entries) {
    if (entry->state == 1 || entry->state == 2) {
      sum = SaturatingAdd(sum, entry->length);
    }
  }
  return sum;
}

int64_t RemainingBytes(const PackageHeader* record) {
  if (record == nullptr) {
    return 0;
  }
  int64_t sum = 0;
  for (const auto& entry : record->entries) {
    if (entry->state >= 1 && entry->state <= 3) {
      sum = SaturatingAdd(sum, SaturatingSub(entry->size, entry->progress));
    }
  }
  return sum;
}

int64_t ExpansionBytes(const PackageHeader* record) {
  if (record == nullptr) {
    return 0;
  }
  // The registry names an application by its install-to path and name,
  // "\" between them even when the path is empty.
  std::string name;
  AppendNeutralPath("\\", name, record->values.neutral_install_to);
  name += '\\';
  name += record->values.appl_name;
  CachedApplication application;
  try {
    ReadApplication(name, &application);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (application.compressed != kYes) {
    return 0;
  }
  int64_t sum = 0;
  for (const auto& entry : record->entries) {
    if (entry->state == kEntryStateFile && !entry->comment) {
      sum = SaturatingAdd(sum, SaturatingSub(entry->size, entry->length));
    }
  }
  return sum;
}

}  // namespace qx
