// The compressor: one gzip member with its CRC and size trailer and the
// write-side digest. A regular file up to kWholeFileBound is read whole and
// deflated in one call by a compressor kept per thread; anything else goes
// through a raw deflate stream kept per thread. Codec layer.
#include "core/compress/compressor.h"

#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "core/compress/codec.h"

namespace qx::codec_detail {

static_assert(kWholeFileBudget >= 2 * (kWholeFileBound + kWholeFileBound / 64 + 65536),
              "the budget must hold two whole-file jobs at the bound");

namespace {

constexpr int kLevel = 6;
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

// Whole-file jobs whose buffers together stay under this size use buffers
// kept per thread and leave the budget alone.
constexpr size_t kSmallJob = 128 * 1024;

// The member header: magic, method 8, no flags, no time, extra flags 0 (level
// 6), operating system 11.
constexpr unsigned char kMemberHeader[kMemberHeaderSize] = {0x1F, 0x8B, 0x08, 0x00, 0x00,
                                                            0x00, 0x00, 0x00, 0x00, 0x0B};

// The deflate stream of no bytes: one final fixed-Huffman block holding only
// its end code.
constexpr unsigned char kEmptyDeflate[] = {0x03, 0x00};

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

struct CompressorFree {
  void operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
  }
};

// The whole-buffer compressor of this thread, made on first use; null when
// it cannot be had.
libdeflate_compressor* ThreadCompressor() {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> compressor;
  if (!compressor) {
    compressor.reset(libdeflate_alloc_compressor(kLevel));
  }
  return compressor.get();
}

// Pages mapped for one large job and unmapped after it, so that they leave
// the process at once instead of staying in the allocator's pools.
class MappedBytes {
 public:
  explicit MappedBytes(size_t size) : size_(size) {
    void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    bytes_ = pages == MAP_FAILED ? nullptr : static_cast<unsigned char*>(pages);
  }
  ~MappedBytes() {
    if (bytes_ != nullptr) {
      ::munmap(bytes_, size_);
    }
  }
  MappedBytes(const MappedBytes&) = delete;
  MappedBytes& operator=(const MappedBytes&) = delete;

  unsigned char* get() const { return bytes_; }

 private:
  size_t size_;
  unsigned char* bytes_;
};

// Digests the filled part of the output buffer and writes it out.
bool FlushOutput(CodecState& state, size_t& out_count) {
  DigestUpdate(state.write_digest(), state.output_buffer(), out_count);
  const bool written = state.WriteAll(state.output_buffer(), out_count);
  out_count = 0;
  return written;
}

// The member of a read failure is complete for the bytes read, but it holds
// less than the source: the caller must not take it for the whole file.
bool EndMember(CodecState& state) {
  if (state.read_failed()) {
    state.ReportInputEnd();
    return false;
  }
  return true;
}

// Deflates the input as it is read, after the |prefix_size| bytes at
// |prefix| that were read (and counted) already.
bool CompressStream(CodecState& state, const unsigned char* prefix, size_t prefix_size) {
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
  if (prefix_size > 0) {
    crc = crc32_z(crc, prefix, prefix_size);
    stream.next_in = const_cast<unsigned char*>(prefix);
    stream.avail_in = static_cast<uInt>(prefix_size);
  }
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
  return EndMember(state);
}

// Reads the file of |size| bytes whole and writes its member in one piece.
// A file that turns out longer than |size| goes on as a stream.
bool CompressWhole(CodecState& state, size_t size) {
  libdeflate_compressor* compressor = ThreadCompressor();
  if (compressor == nullptr) {
    CodecState::ReportError(kOutOfMemory);
    return false;
  }
  // One byte more than the size tells a file that grew.
  const size_t in_capacity = size + 1;
  const size_t out_capacity =
      kMemberHeaderSize + libdeflate_deflate_compress_bound(compressor, size) + kMemberTrailerSize;
  const size_t job = in_capacity + out_capacity;
  std::optional<BudgetHold> hold;
  std::optional<MappedBytes> mapped;
  unsigned char* in = nullptr;
  if (job <= kSmallJob) {
    thread_local std::unique_ptr<unsigned char[]> scratch;
    if (!scratch) {
      scratch.reset(new (std::nothrow) unsigned char[kSmallJob]);
    }
    in = scratch.get();
  } else {
    hold.emplace(WholeFileBudget(), job);
    in = mapped.emplace(job).get();
  }
  if (in == nullptr) {
    CodecState::ReportError(kOutOfMemory);
    return false;
  }
  unsigned char* const out = in + in_capacity;

  const size_t read = state.ReadInto(in, in_capacity);
  if (read == in_capacity) {
    return CompressStream(state, in, read);
  }
  std::memcpy(out, kMemberHeader, kMemberHeaderSize);
  size_t deflated = sizeof kEmptyDeflate;
  if (read == 0) {
    std::memcpy(out + kMemberHeaderSize, kEmptyDeflate, sizeof kEmptyDeflate);
  } else {
    deflated = libdeflate_deflate_compress(compressor, in, read, out + kMemberHeaderSize,
                                           out_capacity - kMemberHeaderSize - kMemberTrailerSize);
    if (deflated == 0) {
      CodecState::ReportError(kOutOfMemory);
      return false;
    }
  }
  unsigned char* const trailer = out + kMemberHeaderSize + deflated;
  PutLittleEndian32(trailer, libdeflate_crc32(0, in, read));
  PutLittleEndian32(trailer + 4, static_cast<uint32_t>(state.bytes_read()));
  const size_t member = kMemberHeaderSize + deflated + kMemberTrailerSize;
  DigestUpdate(state.write_digest(), out, member);
  if (!state.WriteAll(out, member)) {
    return false;
  }
  return EndMember(state);
}

}  // namespace

ByteBudget& WholeFileBudget() {
  static ByteBudget budget(kWholeFileBudget);
  return budget;
}

bool Compress(CodecState& state) {
  struct stat info {};
  if (::fstat(state.input_fd(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
      static_cast<uint64_t>(info.st_size) <= kWholeFileBound) {
    return CompressWhole(state, static_cast<size_t>(info.st_size));
  }
  return CompressStream(state, nullptr, 0);
}

}  // namespace qx::codec_detail
