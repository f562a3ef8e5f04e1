#pragma once

// The state of one CompressFile call: buffers, descriptors, counters, digests
// and the messages that concern the descriptors. Internal to the codec layer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/digest/secure_digest.h"

namespace qx::codec_detail {

// Formats a message of the codec (at most 255 characters, one trailing line
// feed dropped) and adds it to the texts of the run under way on this thread.
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The texts of one codec call, gathered while it runs on the calling thread:
// each call keeps its own, so calls on other threads never mix theirs in.
class NoteSink {
 public:
  explicit NoteSink(std::vector<std::string>& texts);
  ~NoteSink();
  NoteSink(const NoteSink&) = delete;
  NoteSink& operator=(const NoteSink&) = delete;

 private:
  std::vector<std::string>* previous_;
};

// Block sizes of the descriptor I/O.
inline constexpr size_t kInputBlock = 32768;
inline constexpr size_t kInputSlack = 64;
inline constexpr size_t kOutputBlock = 16384;
inline constexpr size_t kOutputSlack = 2048;
inline constexpr size_t kWindowSize = 32768;
// Stored bytes of one member that the input buffer can keep behind a mark so
// that the member can be read a second time.
inline constexpr size_t kMarkRoom = 4 * kInputBlock;

// Names the messages use in place of real program and file names.
inline constexpr char kProgramName[] = "compress";
inline constexpr char kInputName[] = "input";
inline constexpr char kOutputName[] = "output";

// Texts of the failures raised while decoding (shown in the error form).
inline constexpr char kOutOfMemory[] = "out of memory";
inline constexpr char kFormatViolated[] = "invalid compressed data--format violated";
inline constexpr char kCrcError[] = "invalid compressed data--crc error";
inline constexpr char kLengthError[] = "invalid compressed data--length error";

class CodecState {
 public:
  CodecState(int input_fd, int output_fd);
  CodecState(const CodecState&) = delete;
  CodecState& operator=(const CodecState&) = delete;

  // Makes both digest contexts; false when memory runs out.
  bool MakeDigests();

  // --- Input, buffered (expanding) ---

  // Unread bytes of the input buffer.
  const unsigned char* next() const { return input_ + position_; }
  size_t available() const { return fill_ - position_; }
  void Consume(size_t count) { position_ += count; }
  // Marks everything up to |next| as consumed (a pointer into the buffer).
  void ConsumeTo(const unsigned char* next) { position_ = static_cast<size_t>(next - input_); }

  // Reads a new block once the buffer is used up: read() is repeated until
  // kInputBlock bytes are there or the input ends or fails; the block is
  // digested and counted before any of it is used. False when no byte came.
  bool Refill();
  // Keeps the unread bytes and reads more behind them until at least |count|
  // are unread; false when the input ends first. |count| <= kInputBlock.
  bool Ensure(size_t count);
  // Offset of the next unread byte in the buffer; equal to the offset in the
  // input while the first block is being read.
  size_t position() const { return position_; }
  // Whether the buffer holds the first block read and nothing else.
  bool InFirstBlock() const { return bytes_read_ == fill_; }

  // Marks the next unread byte: the buffer keeps it and everything after it
  // while they fit in kMarkRoom bytes; Rewind() then makes the marked byte
  // the next unread one again (false, and nothing changed, once they did not fit).
  void Mark() {
    mark_ = position_;
    marked_ = true;
  }
  bool Rewind();
  // Puts back the |count| (<= 8) bytes just consumed, given as |bytes|.
  void Unread(const unsigned char* bytes, size_t count);

  // Next input byte, refilling as needed; -1 when the input ends.
  int GetByte() {
    if (position_ == fill_ && !Refill()) {
      return -1;
    }
    return input_[position_++];
  }
  // Skips |count| bytes; false when the input ends first.
  bool Skip(uint64_t count);
  // Skips up to and including the next zero byte; false when the input ends first.
  bool SkipPastZero();

  // Notes why the input ended where a byte was required.
  void ReportInputEnd() const;

  // --- Input, unbuffered (compressing) ---

  // One read() of up to kInputBlock bytes into the input buffer, retried on
  // EINTR; returns the count, 0 at the end. A failure also returns 0 and is
  // remembered (read_failed()). The bytes are counted, not digested.
  size_t ReadBlock();
  unsigned char* input_buffer() { return input_; }
  bool read_failed() const { return read_errno_ != 0; }
  // Reads into |buffer| until |count| bytes are there or the input ends or
  // fails, as ReadBlock does; returns the count.
  size_t ReadInto(unsigned char* buffer, size_t count);
  int input_fd() const { return input_fd_; }

  // --- Output ---

  // Writes all |count| bytes, continuing partial writes. The first failure is
  // noted once; from then on nothing more is written. False on failure.
  bool WriteAll(const unsigned char* bytes, size_t count);
  bool write_failed() const { return write_failed_; }

  // Caps the bytes written over the whole call: a write that would pass
  // |limit| writes nothing and fails without a message.
  void LimitOutput(uint64_t limit) { output_limit_ = limit; }
  bool output_limit_passed() const { return output_limit_passed_; }

  unsigned char* output_buffer() { return output_; }
  unsigned char* window() { return window_; }

  // --- Counters and digests ---

  uint64_t bytes_read() const { return bytes_read_; }
  // Written bytes of the current member; total_written() counts them all.
  uint64_t bytes_written() const { return bytes_written_; }
  void ResetBytesWritten() { bytes_written_ = 0; }
  uint64_t total_written() const { return total_written_; }
  DigestContext* read_digest() { return read_digest_.get(); }
  DigestContext* write_digest() { return write_digest_.get(); }

  // Notes |text| in the error form: empty line, program, input, text.
  static void ReportError(const char* text);

 private:
  int input_fd_;
  int output_fd_;
  size_t position_ = 0;
  size_t fill_ = 0;
  size_t mark_ = 0;
  bool marked_ = false;
  // The input has ended (a read returned 0) or failed: no more reads.
  bool input_done_ = false;
  int read_errno_ = 0;
  bool write_failed_ = false;
  bool output_limit_passed_ = false;
  uint64_t output_limit_ = UINT64_MAX;
  uint64_t bytes_read_ = 0;
  uint64_t bytes_written_ = 0;
  uint64_t total_written_ = 0;
  DigestPtr read_digest_;
  DigestPtr write_digest_;
  unsigned char input_[kInputBlock + kMarkRoom + kInputSlack];
  unsigned char output_[kOutputBlock + kOutputSlack];
  unsigned char window_[kWindowSize];
};

}  // namespace qx::codec_detail
