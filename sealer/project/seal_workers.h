#pragma once

// The files of a seal plan stored on worker threads, ahead of the one thread
// that writes the header and takes their results in plan order. Sealer
// engine, without a window.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/result.h"
#include "core/platform/workers.h"
#include "sealer/project/seal_engine.h"
#include "sealer/project/seal_plan.h"

namespace qx {

class SealWorkers {
 public:
  // Stores one file: |made_directory| is the worker's own, for
  // StorePlanFile's use. Returns why the file was not stored, if it was not.
  using Work = std::function<Result<void>(const SealPlanItem& item, StoredFile& stored,
                                          std::string& made_directory)>;

  // Starts |jobs| workers over the plan's files (1 or less: none, each file
  // is then stored by Take on the calling thread). They take the files in
  // plan order and run a bounded number of files ahead of the last taken.
  SealWorkers(const SealPlan& plan, int jobs, Work work);
  // Lets the files in flight finish, starts no more, and joins the workers.
  ~SealWorkers();
  SealWorkers(const SealWorkers&) = delete;
  SealWorkers& operator=(const SealWorkers&) = delete;

  // Waits for the result of plan item |index|, which stores a file; the
  // files must be taken in plan order. A failed file's error comes with its
  // result, for the calling thread to report in plan order.
  Result<void> Take(size_t index, StoredFile& stored);

 private:
  // What storing one file of the plan gave.
  struct FileResult {
    Result<void> outcome;
    StoredFile stored;
  };

  void Run();

  const SealPlan& plan_;
  Work work_;
  // The plan indices of the items that store a file, in order.
  std::vector<size_t> files_;
  std::vector<FileResult> results_;
  std::vector<char> ready_;
  std::string made_directory_;  // the calling thread's, without workers
  size_t next_ = 0;             // the next file a worker takes
  size_t taken_ = 0;            // files taken by the header's thread
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable file_ready_;
  std::condition_variable file_taken_;
  std::vector<std::thread> threads_;
};

}  // namespace qx
