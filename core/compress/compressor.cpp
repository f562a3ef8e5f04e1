// The compressor: one gzip member from a raw deflate stream kept per thread,
// with its CRC and size trailer and the write-side digest. Codec layer.
#include "core/compress/compressor.h"

#include <zlib.h>

#include <cstring>

#include "core/compress/codec.h"

namespace qx::codec_detail {

namespace {

constexpr int kLevel = 6;
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

// The member header: magic, method 8, no flags, no time, extra flags 0 (level
// 6), operating system 11.
constexpr unsigned char kMemberHeader[kMemberHeaderSize] = {0x1F, 0x8B, 0x08, 0x00, 0x00,
                                                            0x00, 0x00, 0x00, 0x00, 0x0B};

void PutLittleEndian32(unsigned char* out, uint32_t value) {
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(value >> 8);
  out[2] = static_cast<unsigned char>(value >> 16);
  out[3] = static_cast<unsigned char>(value >> 24);
}

// A deflate stream that is set up once per thread and reset for every
// member: setting one up allocates and clears about 260 kB, which costs more
// than compressing a small file. Calls on different threads keep apart.
class Deflater {
 public:
  Deflater() = default;
  ~Deflater() {
    if (ready_) {
      deflateEnd(&stream_);
    }
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // The stream in its starting state; null when it cannot be had.
  z_stream* Start() {
    if (ready_) {
      ready_ = deflateReset(&stream_) == Z_OK;
      if (ready_) {
        return &stream_;
      }
      deflateEnd(&stream_);
    }
    stream_ = z_stream{};
    ready_ = deflateInit2(&stream_, kLevel, Z_DEFLATED, kRawWindowBits, kMemLevel,
                          Z_DEFAULT_STRATEGY) == Z_OK;
    return ready_ ? &stream_ : nullptr;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

// Digests the filled part of the output buffer and writes it out.
bool FlushOutput(CodecState& state, size_t& out_count) {
  DigestUpdate(state.write_digest(), state.output_buffer(), out_count);
  const bool written = state.WriteAll(state.output_buffer(), out_count);
  out_count = 0;
  return written;
}

}  // namespace

bool Compress(CodecState& state) {
  thread_local Deflater deflater;
  z_stream* started = deflater.Start();
  if (started == nullptr) {
    CodecState::ReportError(kOutOfMemory);
    return false;
  }
  z_stream& stream = *started;
  unsigned char* const out = state.output_buffer();
  size_t out_count = kMemberHeaderSize;
  std::memcpy(out, kMemberHeader, kMemberHeaderSize);

  uLong crc = crc32(0L, Z_NULL, 0);
  int flush = Z_NO_FLUSH;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (stream.avail_in == 0 && flush != Z_FINISH) {
      // A read that returns nothing or fails ends the source.
      const size_t n = state.ReadBlock();
      if (n == 0) {
        flush = Z_FINISH;
      } else {
        crc = crc32(crc, state.input_buffer(), static_cast<uInt>(n));
      }
      stream.next_in = state.input_buffer();
      stream.avail_in = static_cast<uInt>(n);
    }
    stream.next_out = out + out_count;
    stream.avail_out = static_cast<uInt>(kOutputBlock - out_count);
    status = deflate(&stream, flush);
    if (status == Z_STREAM_ERROR) {
      CodecState::ReportError(kOutOfMemory);
      return false;
    }
    out_count = kOutputBlock - stream.avail_out;
    if (out_count == kOutputBlock && !FlushOutput(state, out_count)) {
      return false;
    }
  }

  // The trailer goes into the slack behind whatever is still buffered.
  PutLittleEndian32(out + out_count, static_cast<uint32_t>(crc));
  PutLittleEndian32(out + out_count + 4, static_cast<uint32_t>(state.bytes_read()));
  out_count += kMemberTrailerSize;
  if (!FlushOutput(state, out_count)) {
    return false;
  }
  if (state.read_failed()) {
    // The member is complete for the bytes read, but it holds less than the
    // source: the caller must not take it for the whole file.
    state.ReportInputEnd();
    return false;
  }
  return true;
}

}  // namespace qx::codec_detail
