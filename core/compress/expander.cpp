// The expander: gzip member and ZIP local headers read, deflated or stored
// data expanded, CRC and size checked. Codec layer.
//
// Deflated data goes through the fast inflater first. A member it cannot take
// whole (broken data, checks that fail, input that ends) is read again from
// its start through inflateBack, whose verdict and messages are the ones
// given: the fast inflater takes some streams the other refuses (incomplete
// code sets) and refuses some it takes. The second reading needs the stored
// bytes still in the input buffer (kMarkRoom); for longer members the fast
// inflater's verdict stands.
#include "core/compress/expander.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#define ZLIB_CONST
#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/compress/codec.h"

namespace qx::codec_detail {

namespace {

constexpr int kWindowBits = 15;

// Output room of the fast inflater: whole windows, so that it is given as
// much as possible per call.
constexpr size_t kFastOutput = 8 * kWindowSize;

// The fast inflater's state and output, kept per thread: they take about
// 350 kB, too much to set up for every file of a package.
struct FastInflater {
  inflate_state state;
  unsigned char output[kFastOutput];
};
thread_local std::unique_ptr<FastInflater> t_fast;

// How the fast inflater's attempt at a member's deflated data ended.
enum class FastResult { kDone, kBroken, kInputEnded, kWriteFailed };

// What the first bytes of a member announced.
enum class MemberKind { kGzip, kZip, kNone };

// Expected check values of the member being expanded.
struct Expected {
  uint32_t crc = 0;
  uint32_t size = 0;
};

class Expander {
 public:
  explicit Expander(CodecState& state) : state_(state) {}
  ~Expander() {
    if (inflater_ready_) {
      inflateBackEnd(&stream_);
    }
  }
  Expander(const Expander&) = delete;
  Expander& operator=(const Expander&) = delete;

  bool Run();

 private:
  bool Fail(const char* text) {
    CodecState::ReportError(text);
    return false;
  }
  bool InputEnded() {
    state_.ReportInputEnd();
    return false;
  }

  MemberKind ReadFirstMagic(bool& ok);
  bool ReadGzipHeader();
  bool ReadZipHeader(int& method, bool& has_descriptor, Expected& expected);
  bool ReadBytes(unsigned char* out, size_t count);
  bool Inflate();
  FastResult InflateFast();
  bool CopyStored(uint32_t count);
  // Reads a member's deflated data and what follows up to its checks
  // (|tail|), first fast, then again through inflateBack when that failed.
  template <typename Tail>
  bool InflateAndCheck(Tail tail);
  bool Check(const Expected& expected);

  // Expanded bytes leave the window here: CRC first, then the output.
  static int Out(void* self, unsigned char* bytes, unsigned count);
  static unsigned In(void* self, const unsigned char** bytes);

  CodecState& state_;
  uint32_t crc_ = 0;
  // Bytes of the member already written, left out when it is read again.
  uint64_t skip_ = 0;
  z_stream stream_{};
  bool inflater_ready_ = false;
};

int Expander::Out(void* self, unsigned char* bytes, unsigned count) {
  Expander& expander = *static_cast<Expander*>(self);
  expander.crc_ = crc32_gzip_refl(expander.crc_, bytes, count);
  if (expander.skip_ >= count) {
    expander.skip_ -= count;
    return 0;
  }
  const size_t skipped = static_cast<size_t>(expander.skip_);
  expander.skip_ = 0;
  return expander.state_.WriteAll(bytes + skipped, count - skipped) ? 0 : 1;
}

unsigned Expander::In(void* self, const unsigned char** bytes) {
  CodecState& state = static_cast<Expander*>(self)->state_;
  if (state.available() == 0 && !state.Refill()) {
    return 0;
  }
  *bytes = state.next();
  const size_t count = state.available();
  state.Consume(count);
  return static_cast<unsigned>(count);
}

bool Expander::ReadBytes(unsigned char* out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int c = state_.GetByte();
    if (c < 0) {
      return InputEnded();
    }
    out[i] = static_cast<unsigned char>(c);
  }
  return true;
}

MemberKind Expander::ReadFirstMagic(bool& ok) {
  ok = false;
  const int b0 = state_.GetByte();
  const int b1 = b0 < 0 ? -1 : state_.GetByte();
  if (b1 < 0) {
    InputEnded();
    return MemberKind::kNone;
  }
  ok = true;
  if (b0 == kGzipMagic0 && (b1 == kGzipMagic1 || b1 == kGzipOldMagic1)) {
    return MemberKind::kGzip;
  }
  // A ZIP archive counts only when its local header opens the input.
  if (b0 == 'P' && b1 == 'K' && state_.InFirstBlock() && state_.position() == 2 &&
      state_.available() >= 2 && state_.next()[0] == 3 && state_.next()[1] == 4) {
    return MemberKind::kZip;
  }
  Note("\n%s: %s: not in gzip format\n", kProgramName, kInputName);
  ok = false;
  return MemberKind::kNone;
}

bool Expander::ReadGzipHeader() {
  unsigned char head[2];
  if (!ReadBytes(head, sizeof head)) {
    return false;
  }
  const int method = head[0];
  const unsigned flags = head[1];
  if (method != kDeflateMethod) {
    Note("%s: %s: unknown method %d -- get newer version of gzip\n", kProgramName, kInputName,
         method);
    return false;
  }
  if ((flags & kFlagEncrypted) != 0) {
    Note("%s: %s is encrypted -- get newer version of gzip\n", kProgramName, kInputName);
    return false;
  }
  if ((flags & kFlagContinuation) != 0) {
    Note("%s: %s is a a multi-part gzip file -- get newer version of gzip\n", kProgramName,
         kInputName);
    return false;
  }
  if ((flags & kFlagReserved) != 0) {
    Note("%s: %s has flags 0x%x -- get newer version of gzip\n", kProgramName, kInputName, flags);
    return false;
  }
  if (!state_.Skip(kIgnoredHeaderBytes)) {
    return InputEnded();
  }
  if ((flags & kFlagExtraField) != 0) {
    unsigned char length[2];
    if (!ReadBytes(length, sizeof length)) {
      return false;
    }
    if (!state_.Skip(GetLittleEndian16(length))) {
      return InputEnded();
    }
  }
  // The stored name is never used: the output is the caller's.
  if ((flags & kFlagName) != 0 && !state_.SkipPastZero()) {
    return InputEnded();
  }
  if ((flags & kFlagComment) != 0 && !state_.SkipPastZero()) {
    return InputEnded();
  }
  return true;
}

bool Expander::ReadZipHeader(int& method, bool& has_descriptor, Expected& expected) {
  // The whole local header, name and extra field must be in the first block;
  // the magic has been read, so the header starts two bytes back.
  const unsigned char* header = state_.next() - 2;
  const size_t in_block = state_.available() + 2;
  size_t header_size = kZipLocalHeaderSize;
  if (in_block >= kZipLocalHeaderSize) {
    header_size += GetLittleEndian16(header + kZipNameLengthOffset);
    header_size += GetLittleEndian16(header + kZipExtraLengthOffset);
  }
  if (in_block < header_size || GetLittleEndian32(header) != kZipLocalSignature) {
    Note("\n%s: %s: not a valid zip file\n", kProgramName, kInputName);
    return false;
  }
  method = GetLittleEndian16(header + kZipMethodOffset);
  const unsigned flags = header[kZipFlagsOffset];
  if (method != kZipStored && method != kZipDeflated) {
    Note("\n%s: %s: first entry not deflated or stored -- use unzip\n", kProgramName, kInputName);
    return false;
  }
  if ((flags & kZipFlagEncrypted) != 0) {
    Note("\n%s: %s: encrypted file -- use unzip\n", kProgramName, kInputName);
    return false;
  }
  const uint32_t compressed_size = GetLittleEndian32(header + kZipCompressedSizeOffset);
  const uint32_t size = GetLittleEndian32(header + kZipSizeOffset);
  // Sizes kept in a 64-bit extension: neither these nor the 16-byte data
  // descriptor would describe the entry.
  if (compressed_size == kZipSizeElsewhere || size == kZipSizeElsewhere) {
    Note("\n%s: %s: not a valid zip file\n", kProgramName, kInputName);
    return false;
  }
  if (method == kZipStored && size != compressed_size) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "Invalid compressed data--length mismatch lenght %" PRIu32 ", size %" PRIu32 "\n",
                  size, compressed_size);
    return Fail(text);
  }
  has_descriptor = (flags & kZipFlagDataDescriptor) != 0;
  expected.crc = GetLittleEndian32(header + kZipCrcOffset);
  expected.size = size;
  state_.Consume(header_size - 2);
  return true;
}

bool Expander::Inflate() {
  if (!inflater_ready_) {
    const int status = inflateBackInit(&stream_, kWindowBits, state_.window());
    if (status != Z_OK) {
      return Fail(kOutOfMemory);
    }
    inflater_ready_ = true;
  }
  // Start with what the buffer still holds; In() supplies the rest.
  stream_.avail_in = static_cast<uInt>(state_.available());
  stream_.next_in = stream_.avail_in > 0 ? state_.next() : Z_NULL;
  state_.Consume(state_.available());
  const int status = inflateBack(&stream_, &Expander::In, this, &Expander::Out, this);
  if (state_.write_failed()) {
    return false;
  }
  switch (status) {
    case Z_STREAM_END:
      // Give back what the decoder took but did not use.
      if (stream_.next_in != Z_NULL) {
        state_.ConsumeTo(stream_.next_in);
      }
      return true;
    case Z_BUF_ERROR:
      return InputEnded();
    case Z_MEM_ERROR:
      return Fail(kOutOfMemory);
    default: {
      // An incomplete code set of a dynamic block gets its own line first.
      const char* message = stream_.msg != nullptr ? stream_.msg : "";
      if (std::strcmp(message, "invalid literal/lengths set") == 0) {
        Note(" incomplete literal tree\n");
      } else if (std::strcmp(message, "invalid distances set") == 0) {
        Note(" incomplete distance tree\n");
      }
      return Fail(kFormatViolated);
    }
  }
}

FastResult Expander::InflateFast() {
  if (!t_fast) {
    t_fast.reset(new (std::nothrow) FastInflater);
    if (!t_fast) {
      return FastResult::kBroken;
    }
  }
  inflate_state& inflater = t_fast->state;
  unsigned char* const output = t_fast->output;
  isal_inflate_init(&inflater);
  inflater.crc_flag = ISAL_DEFLATE;
  size_t fill = 0;
  for (;;) {
    inflater.next_in = const_cast<unsigned char*>(state_.next());
    inflater.avail_in = static_cast<uint32_t>(state_.available());
    inflater.next_out = output + fill;
    inflater.avail_out = static_cast<uint32_t>(kFastOutput - fill);
    const int status = isal_inflate(&inflater);
    state_.ConsumeTo(inflater.next_in);
    if (status != ISAL_DECOMP_OK) {
      // What came out of this call is not written: inflateBack stops at a
      // different point of a broken stream.
      return FastResult::kBroken;
    }
    fill = static_cast<size_t>(inflater.next_out - output);
    const bool finished = inflater.block_state == ISAL_BLOCK_FINISH;
    // Written as inflateBack writes: whole windows, each once a byte follows
    // it, and the rest when the data ends.
    const size_t ready = finished ? fill : fill == 0 ? 0 : (fill - 1) / kWindowSize * kWindowSize;
    for (size_t done = 0; done < ready; done += kWindowSize) {
      const size_t step = ready - done < kWindowSize ? ready - done : kWindowSize;
      if (Out(this, output + done, static_cast<unsigned>(step)) != 0) {
        return FastResult::kWriteFailed;
      }
    }
    std::memmove(output, output + ready, fill - ready);
    fill -= ready;
    if (finished) {
      // The inflater's bit buffer may hold whole bytes read past the end of
      // the data (the trailer, the next member): they are put back.
      const int bits = inflater.read_in_length;
      unsigned char extra[8];
      const size_t count = static_cast<size_t>(bits / 8);
      const uint64_t held = inflater.read_in >> (bits % 8);
      for (size_t i = 0; i < count; ++i) {
        extra[i] = static_cast<unsigned char>(held >> (8 * i));
      }
      state_.Unread(extra, count);
      return FastResult::kDone;
    }
    if (state_.available() == 0) {
      if (!state_.Refill()) {
        return FastResult::kInputEnded;
      }
    } else if (inflater.avail_out != 0) {
      // Neither input nor output room used up: the inflater cannot go on.
      return FastResult::kBroken;
    }
  }
}

template <typename Tail>
bool Expander::InflateAndCheck(Tail tail) {
  crc_ = 0;
  skip_ = 0;
  const uint64_t written_before = state_.bytes_written();
  state_.Mark();
  FastResult result;
  std::vector<std::string> notes;
  {
    // Messages wait until it is known whose verdict stands.
    NoteSink quiet(notes);
    result = InflateFast();
    if (result == FastResult::kDone && tail()) {
      return true;
    }
  }
  if (result != FastResult::kWriteFailed && state_.Rewind()) {
    // Again through inflateBack, leaving out what was written already.
    crc_ = 0;
    skip_ = state_.bytes_written() - written_before;
    return Inflate() && tail();
  }
  for (const std::string& text : notes) {
    Note("%s", text.c_str());
  }
  switch (result) {
    case FastResult::kBroken:
      return Fail(kFormatViolated);
    case FastResult::kInputEnded:
      return InputEnded();
    default:
      return false;
  }
}

bool Expander::CopyStored(uint32_t count) {
  unsigned char* const window = state_.window();
  size_t window_fill = 0;
  uint64_t left = count;
  while (left > 0) {
    if (state_.available() == 0 && !state_.Refill()) {
      return InputEnded();
    }
    size_t step = state_.available();
    if (step > left) {
      step = static_cast<size_t>(left);
    }
    if (step > kWindowSize - window_fill) {
      step = kWindowSize - window_fill;
    }
    std::memcpy(window + window_fill, state_.next(), step);
    state_.Consume(step);
    window_fill += step;
    left -= step;
    if (window_fill == kWindowSize) {
      if (Out(this, window, static_cast<unsigned>(window_fill)) != 0) {
        return false;
      }
      window_fill = 0;
    }
  }
  return window_fill == 0 || Out(this, window, static_cast<unsigned>(window_fill)) == 0;
}

bool Expander::Check(const Expected& expected) {
  if (expected.crc != crc_) {
    return Fail(kCrcError);
  }
  // The recorded size is the byte count modulo 2^32.
  if (expected.size != static_cast<uint32_t>(state_.bytes_written())) {
    return Fail(kLengthError);
  }
  return true;
}

bool Expander::Run() {
  bool ok = false;
  const MemberKind first = ReadFirstMagic(ok);
  if (!ok) {
    return false;
  }
  if (first == MemberKind::kZip) {
    int method = 0;
    bool has_descriptor = false;
    Expected expected;
    if (!ReadZipHeader(method, has_descriptor, expected)) {
      return false;
    }
    const Expected in_header = expected;
    auto descriptor_and_check = [&] {
      expected = in_header;
      if (has_descriptor) {
        unsigned char descriptor[kZipDataDescriptorSize];
        if (!ReadBytes(descriptor, sizeof descriptor)) {
          return false;
        }
        expected.crc = GetLittleEndian32(descriptor + kZipDescriptorCrcOffset);
        expected.size = GetLittleEndian32(descriptor + kZipDescriptorSizeOffset);
      }
      return Check(expected);
    };
    if (method == kZipStored) {
      crc_ = 0;
      if (!CopyStored(expected.size) || !descriptor_and_check()) {
        return false;
      }
    } else if (!InflateAndCheck(descriptor_and_check)) {
      return false;
    }
    // A ZIP entry is always the last member; further entries are only noted.
    if (state_.Ensure(4) && GetLittleEndian32(state_.next()) == kZipLocalSignature) {
      Note("%s: %s has more than one entry--rest ignored\n", kProgramName, kInputName);
    }
    return true;
  }

  for (;;) {
    if (!ReadGzipHeader()) {
      return false;
    }
    auto trailer_and_check = [this] {
      unsigned char trailer[kMemberTrailerSize];
      if (!ReadBytes(trailer, sizeof trailer)) {
        return false;
      }
      Expected expected;
      expected.crc = GetLittleEndian32(trailer);
      expected.size = GetLittleEndian32(trailer + 4);
      return Check(expected);
    };
    if (!InflateAndCheck(trailer_and_check)) {
      return false;
    }
    // Whatever follows must be another member. The buffer is refilled when
    // it ends right behind this member, so no member is skipped unread.
    if (state_.available() == 0 && !state_.Refill()) {
      return !state_.read_failed() || InputEnded();
    }
    const int b0 = state_.GetByte();
    const int b1 = b0 == kGzipMagic0 ? state_.GetByte() : 0;
    if (b1 < 0) {
      return InputEnded();
    }
    if (b0 != kGzipMagic0 || (b1 != kGzipMagic1 && b1 != kGzipOldMagic1)) {
      Note("\n%s: %s: decompression OK, trailing garbage ignored\n", kProgramName, kInputName);
      return false;
    }
    state_.ResetBytesWritten();
  }
}

}  // namespace

bool Expand(CodecState& state) {
  return Expander(state).Run();
}

}  // namespace qx::codec_detail
