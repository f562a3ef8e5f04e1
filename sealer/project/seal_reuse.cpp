// Keeping the stored files of an earlier seal: its header read and verified
// once, then each file checked against its entry, its source and the bytes
// stored, ahead of the run when the seal asks. Sealer engine, without a
// window.
#include "sealer/project/seal_reuse.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "core/fsutil/file_times.h"
#include "core/fsutil/path_text.h"
#include "core/package/stored_file_check.h"
#include "core/platform/file_handle.h"

namespace qx {

namespace {

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether two looks at a path saw the same file, unchanged in between.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
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

EarlierPackage::EarlierPackage(const std::string& put_to, const std::string& appl_name)
    : header_path_(JoinNativePath(put_to, HeaderFileName(appl_name))) {
  FilePtr file(std::fopen(header_path_.c_str(), "rb"));
  if (!file) {
    return;
  }
  header_found_ = ::fstat(::fileno(file.get()), &header_info_) == 0;
  FormatVersion version;
  if (ReadPackageHeader(file.get(), &version, &record_) != kHeaderOk || !record_ ||
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

EarlierPackage::~EarlierPackage() {
  StopAhead();
}

bool EarlierPackage::Keep(const SealPlanItem& item, StoredFile& stored) const {
  if (ahead_done_ && ahead_plan_ != nullptr && !ahead_plan_->items.empty()) {
    const SealPlanItem* first = ahead_plan_->items.data();
    if (&item >= first && &item < first + ahead_.size()) {
      const AheadResult& result = ahead_[static_cast<size_t>(&item - first)];
      if (result.kept) {
        stored = result.stored;
      }
      return result.kept;
    }
  }
  return KeepNow(item, stored);
}

bool EarlierPackage::KeepNow(const SealPlanItem& item, StoredFile& stored) const {
  if (!record_) {
    return false;
  }
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

void EarlierPackage::CheckAhead(const SealPlan& plan, int jobs) {
  StopAhead();
  if (!record_ || jobs < 1) {
    return;
  }
  ahead_plan_ = &plan;
  ahead_.assign(plan.items.size(), {});
  ahead_next_ = 0;
  ahead_stop_ = false;
  ahead_done_ = false;
  const size_t threads = std::min(static_cast<size_t>(jobs), plan.items.size());
  for (size_t i = 0; i < threads; ++i) {
    ahead_threads_.emplace_back([this] { RunAhead(); });
  }
}

void EarlierPackage::RunAhead() {
  const std::vector<SealPlanItem>& items = ahead_plan_->items;
  // Files are taken a few at a time: most checks are short.
  constexpr size_t kRun = 8;
  while (!ahead_stop_.load(std::memory_order_relaxed)) {
    const size_t begin = ahead_next_.fetch_add(kRun);
    if (begin >= items.size()) {
      return;
    }
    const size_t end = std::min(begin + kRun, items.size());
    for (size_t i = begin; i < end; ++i) {
      if (items[i].kind != SealItemKind::kComment) {
        AheadResult& result = ahead_[i];
        result.kept = KeepNow(items[i], result.stored);
      }
    }
  }
}

void EarlierPackage::StopAhead() {
  ahead_stop_ = true;
  for (std::thread& thread : ahead_threads_) {
    thread.join();
  }
  ahead_threads_.clear();
  ahead_done_ = false;
}

bool EarlierPackage::FinishAhead() {
  for (std::thread& thread : ahead_threads_) {
    thread.join();
  }
  ahead_threads_.clear();
  struct stat now {};
  const bool found = !header_path_.empty() && ::stat(header_path_.c_str(), &now) == 0;
  if (found != header_found_ || (found && !SameFile(now, header_info_))) {
    return false;
  }
  ahead_done_ = ahead_plan_ != nullptr;
  return true;
}

}  // namespace qx
