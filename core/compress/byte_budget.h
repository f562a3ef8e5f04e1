#pragma once

// A byte budget that threads share: each takes what one job needs before it
// allocates and gives it back after, and waits while the bytes in flight
// would pass the cap. Codec layer.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace qx::codec_detail {

class ByteBudget {
 public:
  explicit ByteBudget(size_t cap) : cap_(cap) {}
  ByteBudget(const ByteBudget&) = delete;
  ByteBudget& operator=(const ByteBudget&) = delete;

  // Waits until |bytes| fit beside the bytes in flight, then takes them.
  // Takers are served in the order they came, so a large job is not passed
  // over for ever by small ones. |bytes| above the cap is taken as the cap
  // (it then waits until nothing else is in flight).
  void Acquire(size_t bytes);
  void Release(size_t bytes);

  size_t cap() const { return cap_; }
  // The most bytes ever in flight at once, and the takers waiting now; for
  // tests.
  size_t peak() const;
  size_t waiting() const;

 private:
  const size_t cap_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  size_t in_flight_ = 0;
  size_t peak_ = 0;
  uint64_t next_ticket_ = 0;
  uint64_t serving_ = 0;
};

// Bytes of a budget held for as long as it lives.
class BudgetHold {
 public:
  BudgetHold(ByteBudget& budget, size_t bytes)
      : budget_(budget), bytes_(bytes < budget.cap() ? bytes : budget.cap()) {
    budget_.Acquire(bytes_);
  }
  ~BudgetHold() { budget_.Release(bytes_); }
  BudgetHold(const BudgetHold&) = delete;
  BudgetHold& operator=(const BudgetHold&) = delete;

 private:
  ByteBudget& budget_;
  size_t bytes_;
};

}  // namespace qx::codec_detail
