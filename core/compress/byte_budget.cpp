// The byte budget shared by the compressing threads. Codec layer.
#include "core/compress/byte_budget.h"

#include <algorithm>

namespace qx::codec_detail {

void ByteBudget::Acquire(size_t bytes) {
  bytes = std::min(bytes, cap_);
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t ticket = next_ticket_++;
  changed_.wait(lock, [&] { return serving_ == ticket && in_flight_ + bytes <= cap_; });
  in_flight_ += bytes;
  peak_ = std::max(peak_, in_flight_);
  ++serving_;
  // The next in line may fit too.
  changed_.notify_all();
}

void ByteBudget::Release(size_t bytes) {
  bytes = std::min(bytes, cap_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in_flight_ -= bytes;
  }
  changed_.notify_all();
}

size_t ByteBudget::peak() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peak_;
}

size_t ByteBudget::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(next_ticket_ - serving_);
}

}  // namespace qx::codec_detail
