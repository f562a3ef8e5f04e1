// Numbered jobs on worker threads. Platform layer.
#include "core/platform/workers.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace qx {

int AvailableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return CPU_COUNT(&set);
  }
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? static_cast<int>(count) : 1;
}

std::vector<std::string> RunJobs(size_t count, int threads,
                                 const std::function<std::string(size_t)>& job) {
  std::vector<std::string> failures(count);
  std::atomic<size_t> next = 0;
  std::atomic<bool> failed = false;
  const auto work = [&] {
    for (size_t i = next++; i < count && !failed; i = next++) {
      failures[i] = job(i);
      if (!failures[i].empty()) {
        failed = true;
      }
    }
  };
  const size_t wanted = static_cast<size_t>(threads > 0 ? threads : AvailableProcessors());
  const size_t helpers = std::min(wanted, count) > 0 ? std::min(wanted, count) - 1 : 0;
  std::vector<std::thread> pool;
  pool.reserve(helpers);
  for (size_t t = 0; t < helpers; ++t) {
    pool.emplace_back(work);
  }
  work();  // the calling thread is one of the workers
  for (std::thread& thread : pool) {
    thread.join();
  }
  return failures;
}

}  // namespace qx
