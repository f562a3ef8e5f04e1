// CodecState: buffered and single-block reads of the input descriptor, counted
// and digested, whole writes to the output, and the I/O messages. Codec layer.
#include "core/compress/codec_state.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/compress/codec.h"

namespace qx::codec_detail {

namespace {

constexpr size_t kMessageSize = 256;

// The texts of the codec call running on this thread; null outside one.
thread_local std::vector<std::string>* t_notes = nullptr;

}  // namespace

void Note(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatCodecMessage(format, args);
  va_end(args);
  if (t_notes != nullptr) {
    t_notes->push_back(std::move(text));
  }
}

NoteSink::NoteSink(std::vector<std::string>& texts) : previous_(t_notes) {
  t_notes = &texts;
}

NoteSink::~NoteSink() {
  t_notes = previous_;
}

CodecState::CodecState(int input_fd, int output_fd) : input_fd_(input_fd), output_fd_(output_fd) {}

bool CodecState::MakeDigests() {
  read_digest_ = DigestNew();
  write_digest_ = DigestNew();
  return read_digest_ && write_digest_;
}

namespace {

// read() retried on EINTR.
ssize_t ReadRetrying(int fd, unsigned char* buffer, size_t count) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace

bool CodecState::Ensure(size_t count) {
  if (available() >= count) {
    return true;
  }
  // Keep the unread tail at the front, behind the marked bytes while they
  // still fit, and read behind it.
  size_t keep_from = position_;
  if (marked_ && fill_ - mark_ + kInputBlock <= kInputBlock + kMarkRoom) {
    keep_from = mark_;
  } else {
    marked_ = false;
  }
  const size_t kept = fill_ - keep_from;
  std::memmove(input_, input_ + keep_from, kept);
  mark_ -= marked_ ? keep_from : 0;
  position_ -= keep_from;
  fill_ = kept;
  while (available() < kInputBlock && !input_done_) {
    const ssize_t n = ReadRetrying(input_fd_, input_ + fill_, position_ + kInputBlock - fill_);
    if (n <= 0) {
      input_done_ = true;
      read_errno_ = n < 0 ? errno : 0;
      break;
    }
    fill_ += static_cast<size_t>(n);
  }
  // Every byte read is digested and counted before any of it is used.
  DigestUpdate(read_digest_.get(), input_ + kept, fill_ - kept);
  bytes_read_ += fill_ - kept;
  return available() >= count;
}

bool CodecState::Rewind() {
  if (!marked_) {
    return false;
  }
  position_ = mark_;
  return true;
}

void CodecState::Unread(const unsigned char* bytes, size_t count) {
  if (position_ >= count) {
    position_ -= count;
    return;
  }
  // The bytes came before the block now in the buffer: make room in front.
  std::memmove(input_ + count, input_ + position_, available());
  std::memcpy(input_, bytes, count);
  fill_ = fill_ - position_ + count;
  position_ = 0;
  marked_ = false;
}

bool CodecState::Refill() {
  return Ensure(1);
}

bool CodecState::Skip(uint64_t count) {
  while (count > 0) {
    if (available() == 0 && !Refill()) {
      return false;
    }
    const size_t step = count < available() ? static_cast<size_t>(count) : available();
    position_ += step;
    count -= step;
  }
  return true;
}

bool CodecState::SkipPastZero() {
  for (;;) {
    if (available() == 0 && !Refill()) {
      return false;
    }
    const void* zero = std::memchr(next(), 0, available());
    if (zero != nullptr) {
      ConsumeTo(static_cast<const unsigned char*>(zero) + 1);
      return true;
    }
    position_ = fill_;
  }
}

void CodecState::ReportInputEnd() const {
  if (read_errno_ == 0) {
    Note("%s %s: unexpected end of file\n", kProgramName, kInputName);
  } else if (read_errno_ == EACCES || read_errno_ == EPERM) {
    Note("%s %s: Permission denied\n", kProgramName, kInputName);
  } else {
    Note("%s %s: Bad file number\n", kProgramName, kInputName);
  }
}

size_t CodecState::ReadBlock() {
  if (input_done_) {
    return 0;
  }
  const ssize_t n = ReadRetrying(input_fd_, input_, kInputBlock);
  if (n <= 0) {
    input_done_ = true;
    read_errno_ = n < 0 ? errno : 0;
    return 0;
  }
  bytes_read_ += static_cast<size_t>(n);
  return static_cast<size_t>(n);
}

size_t CodecState::ReadInto(unsigned char* buffer, size_t count) {
  size_t done = 0;
  while (done < count && !input_done_) {
    const ssize_t n = ReadRetrying(input_fd_, buffer + done, count - done);
    if (n <= 0) {
      input_done_ = true;
      read_errno_ = n < 0 ? errno : 0;
      break;
    }
    done += static_cast<size_t>(n);
  }
  bytes_read_ += done;
  return done;
}

bool CodecState::WriteAll(const unsigned char* bytes, size_t count) {
  if (write_failed_) {
    return false;
  }
  if (count > output_limit_ - total_written_) {
    write_failed_ = true;
    output_limit_passed_ = true;
    return false;
  }
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(output_fd_, bytes + done, count - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // A write that makes no progress would never end: count it as a full device.
      const bool full = n == 0 || errno == ENOSPC || errno == EDQUOT || errno == EFBIG;
      write_failed_ = true;
      Note("%s-%s: %s", kProgramName, kOutputName,
           full ? "Disk full" : "Invalid file handle or file not opened for writing");
      return false;
    }
    done += static_cast<size_t>(n);
  }
  bytes_written_ += count;
  total_written_ += count;
  return true;
}

void CodecState::ReportError(const char* text) {
  Note("\n%s: %s: %s\n", kProgramName, kInputName, text);
}

}  // namespace qx::codec_detail
