// Worker threads that store a seal plan's files in plan order, a bounded
// number of files ahead of the header. Sealer engine, without a window.
#include "sealer/project/seal_workers.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "sealer/project/seal_request.h"

namespace qx {

namespace {

// How many files the workers may run ahead of the header. Small files go
// by in a millisecond or two each, so the other workers keep busy for a good
// while behind a large one; the results waiting stay a few hundred kB.
constexpr size_t kFilesAhead = 1024;
// Files ready in a row that wake the header's thread, and how long it sleeps
// at most while it waits for fewer.
constexpr size_t kWakeRun = 32;
constexpr std::chrono::milliseconds kLookAgain(50);

}  // namespace

SealWorkers::SealWorkers(const SealPlan& plan, int jobs, Work work)
    : plan_(plan), work_(std::move(work)) {
  for (size_t i = 0; i < plan.items.size(); ++i) {
    if (plan.items[i].kind != SealItemKind::kComment) {
      files_.push_back(i);
    }
  }
  results_.resize(files_.size());
  ready_.assign(files_.size(), 0);
  if (jobs <= 1 || files_.size() <= 1) {
    return;
  }
  const size_t workers = std::min(static_cast<size_t>(jobs), files_.size());
  threads_.reserve(workers);
  for (size_t i = 0; i < workers; ++i) {
    threads_.emplace_back([this] { Run(); });
  }
}

SealWorkers::~SealWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  file_taken_.notify_all();
  for (std::thread& thread : threads_) {
    thread.join();
  }
}

void SealWorkers::Run() {
  std::string made_directory;
  for (;;) {
    size_t file = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      file_taken_.wait(
          lock, [this] { return stop_ || next_ >= files_.size() || next_ < taken_ + kFilesAhead; });
      if (stop_ || next_ >= files_.size()) {
        return;
      }
      file = next_++;
    }
    FileResult& result = results_[file];
    result.outcome = work_(plan_.items[files_[file]], result.stored, made_directory);
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ready_[file] = 1;
      // The header's thread is woken for a run of files, not for each: a
      // wake-up costs more than writing a few entries.
      size_t run = 0;
      while (taken_ + run < files_.size() && ready_[taken_ + run] != 0 && run < kWakeRun) {
        ++run;
      }
      wake = run == kWakeRun || taken_ + run == files_.size();
    }
    if (wake) {
      file_ready_.notify_one();
    }
  }
}

Result<void> SealWorkers::Take(size_t index, StoredFile& stored) {
  const size_t file = taken_;
  if (file >= files_.size() || files_[file] != index) {
    return Error{kSealFailed, "The seal took its files out of order", {}};
  }
  FileResult& result = results_[file];
  if (threads_.empty()) {
    result.outcome = work_(plan_.items[index], result.stored, made_directory_);
    ++taken_;
  } else {
    {
      // Between runs it looks now and then, so that a file done just before
      // a large one is not left waiting for it.
      std::unique_lock<std::mutex> lock(mutex_);
      while (ready_[file] == 0) {
        file_ready_.wait_for(lock, kLookAgain);
      }
      ++taken_;
    }
    file_taken_.notify_all();
  }
  stored = std::move(result.stored);
  return std::move(result.outcome);
}

}  // namespace qx
