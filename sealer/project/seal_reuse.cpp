// Keeping the stored files of an earlier seal: its header read and verified
// once, then each file checked against its entry, its source and the bytes
// stored. Sealer engine, without a window.
#include "sealer/project/seal_reuse.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/fsutil/file_times.h"
#include "core/fsutil/path_text.h"
#include "core/package/stored_file_check.h"
#include "core/platform/file_handle.h"
#include "sealer/project/seal_engine.h"

namespace qx {

namespace {

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The entry's Time and Date texts as the sealer writes them.
void EntryTimeTexts(const FileEntry& entry, std::string& date_text, std::string& time_text) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", entry.hours, entry.minutes, entry.seconds);
  time_text = text;
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", entry.month, entry.day, entry.year);
  date_text = text;
}

}  // namespace

EarlierPackage::EarlierPackage(const std::string& put_to, const std::string& appl_name) {
  FilePtr file(std::fopen(JoinNativePath(put_to, HeaderFileName(appl_name)).c_str(), "rb"));
  FormatVersion version;
  if (!file || ReadPackageHeader(file.get(), &version, &record_) != kHeaderOk || !record_ ||
      record_->values.appl_name != appl_name) {
    record_.reset();
    return;
  }
  // The stored files are checked where the earlier seal put them.
  record_->package_directory = put_to;
  for (const std::unique_ptr<FileEntry>& entry : record_->entries) {
    if (!entry->comment && entry->state == kEntryStateFile) {
      entries_.emplace(entry->name, entry.get());
    }
  }
}

bool EarlierPackage::Keep(const SealPlanItem& item, StoredFile& stored) const {
  const auto found = entries_.find(item.name);
  if (item.source_path.empty() || !item.source_regular || found == entries_.end()) {
    return false;
  }
  const FileEntry& entry = *found->second;
  // A named file is stored as it is and a list file compressed: a file that
  // moved from one to the other is stored again.
  if (IsNamedFileEntry(record_->values, entry.name) != (item.kind == SealItemKind::kNamedFile) ||
      item.bytes != entry.size) {
    return false;
  }
  std::string date_text;
  std::string time_text;
  EntryTimeTexts(entry, date_text, time_text);
  FormatLastWriteTime(item.source_time.tv_sec, &stored.date_text, &stored.time_text);
  if (stored.date_text != date_text || stored.time_text != time_text) {
    return false;
  }
  // The seal gave the stored file its source's time to the nanosecond, which
  // tells a source changed within the entry's two seconds.
  struct stat kept {};
  if (CheckStoredFileAt(JoinNativePath(record_->package_directory, item.name), entry,
                        record_->values.appl_name.c_str(), &kept) != kStoredFileOk ||
      !SameTime(kept.st_mtim, item.source_time)) {
    return false;
  }
  stored.length = entry.length;
  stored.size = entry.size;
  stored.digest = entry.digest;
  return true;
}

}  // namespace qx
