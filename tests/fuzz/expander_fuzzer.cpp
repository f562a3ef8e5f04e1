// Fuzz target for the expanding side of the codec: any bytes as a stored
// file, expanded by CompressFile and compared with a reference decoding of
// the same bytes through zlib's raw inflate (gzip members, or a ZIP archive's
// first entry). Both must agree on success, on every expanded byte, on the
// counts and on the digest of the bytes read. A gzip input is expanded a
// second time behind a member that puts the codec's block boundary inside
// it, and the bytes themselves are compressed and expanded again.
#include <sys/mman.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "core/platform/file_handle.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using qx_fuzz::Require;

constexpr char kKey[] = "FuzzKey";
// The codec reads its input in blocks of this many bytes.
constexpr size_t kCodecBlock = 32768;
// Bytes of a gzip member around its data: header, stored-block head, trailer.
constexpr size_t kStoredMemberOverhead = 10 + 5 + 8;
constexpr size_t kZipLocalHeaderSize = 30;
constexpr size_t kZipDescriptorSize = 16;

uint32_t Le16(std::string_view in, size_t at) {
  return static_cast<uint8_t>(in[at]) |
         (static_cast<uint32_t>(static_cast<uint8_t>(in[at + 1])) << 8);
}

uint32_t Le32(std::string_view in, size_t at) {
  return Le16(in, at) | (Le16(in, at + 2) << 16);
}

uint32_t Crc(std::string_view bytes) {
  return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0),
                                     reinterpret_cast<const Bytef*>(bytes.data()),
                                     static_cast<uInt>(bytes.size())));
}

// What a correct expander makes of the input.
struct Decoded {
  bool ok = false;
  std::string bytes;       // every member's bytes, in order
  uint64_t last_size = 0;  // the last member's count
  size_t consumed = 0;     // input bytes the decoding used
};

// Inflates the raw deflate stream at |pos|, leaving |pos| behind its end.
bool InflateRaw(std::string_view in, size_t& pos, std::string& out) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) {
    return false;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + pos));
  stream.avail_in = static_cast<uInt>(in.size() - pos);
  unsigned char block[16384];
  int status;
  do {
    stream.next_out = block;
    stream.avail_out = sizeof block;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(reinterpret_cast<char*>(block), sizeof block - stream.avail_out);
  } while (status == Z_OK);
  pos = in.size() - stream.avail_in;
  inflateEnd(&stream);
  return status == Z_STREAM_END;
}

// Skips past the next zero byte from |pos|.
bool SkipPastZero(std::string_view in, size_t& pos) {
  const size_t zero = in.find('\0', pos);
  if (zero == std::string_view::npos) {
    return false;
  }
  pos = zero + 1;
  return true;
}

bool IsGzipMagic(std::string_view in, size_t at) {
  return in.size() >= at + 2 && static_cast<uint8_t>(in[at]) == 0x1F &&
         (static_cast<uint8_t>(in[at + 1]) == 0x8B || static_cast<uint8_t>(in[at + 1]) == 0x9E);
}

// A run of gzip members that fills the whole input. Flags the codec does not
// take (header CRC, encryption, reserved bits) fail, as the old magic passes.
Decoded DecodeGzip(std::string_view in) {
  Decoded result;
  size_t pos = 0;
  for (;;) {
    if (!IsGzipMagic(in, pos) || in.size() < pos + 10) {
      return result;
    }
    const unsigned method = static_cast<uint8_t>(in[pos + 2]);
    const unsigned flags = static_cast<uint8_t>(in[pos + 3]);
    if (method != 8 || (flags & 0xE2) != 0) {
      return result;
    }
    pos += 10;
    if ((flags & 0x04) != 0) {
      if (in.size() < pos + 2) {
        return result;
      }
      pos += 2 + Le16(in, pos);
      if (pos > in.size()) {
        return result;
      }
    }
    if (((flags & 0x08) != 0 && !SkipPastZero(in, pos)) ||
        ((flags & 0x10) != 0 && !SkipPastZero(in, pos))) {
      return result;
    }
    std::string member;
    if (!InflateRaw(in, pos, member) || in.size() < pos + 8 || Le32(in, pos) != Crc(member) ||
        Le32(in, pos + 4) != static_cast<uint32_t>(member.size())) {
      return result;
    }
    pos += 8;
    result.bytes += member;
    result.last_size = member.size();
    if (pos == in.size()) {
      result.ok = true;
      result.consumed = pos;
      return result;
    }
  }
}

// The first entry of a ZIP archive, stored or deflated, whose local header
// lies whole in the codec's first block; a data descriptor (always with its
// signature) carries the check values when the flags say so.
Decoded DecodeZip(std::string_view in) {
  Decoded result;
  const size_t first_block = std::min(in.size(), kCodecBlock);
  if (first_block < kZipLocalHeaderSize) {
    return result;
  }
  const size_t header_size = kZipLocalHeaderSize + Le16(in, 26) + Le16(in, 28);
  const unsigned flags = static_cast<uint8_t>(in[6]);
  const uint32_t method = Le16(in, 8);
  uint32_t crc = Le32(in, 14);
  const uint32_t compressed = Le32(in, 18);
  uint32_t size = Le32(in, 22);
  if (first_block < header_size || (method != 0 && method != 8) || (flags & 0x01) != 0 ||
      compressed == 0xFFFFFFFF || size == 0xFFFFFFFF || (method == 0 && size != compressed)) {
    return result;
  }
  size_t pos = header_size;
  if (method == 0) {
    if (in.size() - pos < size) {
      return result;
    }
    result.bytes.assign(in.substr(pos, size));
    pos += size;
  } else if (!InflateRaw(in, pos, result.bytes)) {
    return result;
  }
  if ((flags & 0x08) != 0) {
    if (in.size() < pos + kZipDescriptorSize) {
      return result;
    }
    crc = Le32(in, pos + 4);
    size = Le32(in, pos + 12);
    pos += kZipDescriptorSize;
  }
  result.ok = crc == Crc(result.bytes) && size == static_cast<uint32_t>(result.bytes.size());
  result.last_size = result.bytes.size();
  result.consumed = pos;
  return result;
}

Decoded Decode(std::string_view in) {
  if (IsGzipMagic(in, 0)) {
    return DecodeGzip(in);
  }
  if (in.substr(0, 4) == std::string_view("PK\3\4", 4)) {
    return DecodeZip(in);
  }
  return {};
}

// An anonymous in-memory file holding |bytes|, positioned at its start.
qx::FilePtr MemoryFile(std::string_view bytes, const char* mode) {
  const int fd = ::memfd_create("fuzz", 0);
  Require(fd >= 0, "memfd_create");
  Require(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "write");
  Require(::lseek(fd, 0, SEEK_SET) == 0, "lseek");
  qx::FilePtr file(::fdopen(fd, mode));
  Require(file != nullptr, "fdopen");
  return file;
}

std::string Contents(std::FILE* file) {
  std::string bytes;
  char block[65536];
  ssize_t got;
  for (off_t at = 0; (got = ::pread(::fileno(file), block, sizeof block, at)) > 0; at += got) {
    bytes.append(block, static_cast<size_t>(got));
  }
  return bytes;
}

std::string DigestOf(std::string_view bytes) {
  qx::FilePtr file = MemoryFile(bytes, "rb");
  char digest[qx::kDigestBufferSize] = {};
  Require(
      qx::DigestCopyFile(file.get(), nullptr, nullptr, digest, sizeof digest, kKey) == qx::kCopyOk,
      "DigestCopyFile");
  return digest;
}

struct Expanded {
  bool ok = false;
  std::string bytes;
  int64_t stored = -1;
  int64_t expanded = -1;
  std::string digest;
  int boxes = 0;
};

Expanded Expand(std::string_view in) {
  qx_fuzz::QuietUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  qx::FilePtr input = MemoryFile(in, "rb");
  qx::FilePtr output = MemoryFile({}, "w+b");
  Expanded result;
  char digest[qx::kDigestBufferSize] = {};
  result.ok = qx::CompressFile(input.get(), output.get(), false, &result.stored, &result.expanded,
                               digest, sizeof digest, kKey) == qx::kCodecOk;
  result.bytes = Contents(output.get());
  result.digest = digest;
  result.boxes = ui.boxes;
  return result;
}

// The codec's result against the reference: the same verdict, and on success
// the same bytes and counts and the digest of exactly the bytes it read.
void CheckAgainst(std::string_view in, const Decoded& want, const Expanded& got) {
  Require(got.ok == want.ok, "expander and reference disagree on success");
  if (!got.ok) {
    Require(got.boxes > 0, "failure without a message");
    return;
  }
  Require(got.bytes == want.bytes, "expanded bytes differ");
  Require(got.expanded == static_cast<int64_t>(want.last_size), "uncompressed size");
  Require(got.stored >= static_cast<int64_t>(want.consumed) &&
              got.stored <= static_cast<int64_t>(in.size()),
          "compressed size");
  Require(got.digest == DigestOf(in.substr(0, static_cast<size_t>(got.stored))), "digest");
}

// A gzip member storing |count| bytes in one stored deflate block.
std::string StoredMember(size_t count, std::string& content) {
  content.clear();
  for (size_t i = 0; i < count; ++i) {
    content += static_cast<char>('a' + i % 26);
  }
  std::string member("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  member += '\x01';
  member += static_cast<char>(count & 0xFF);
  member += static_cast<char>(count >> 8);
  member += static_cast<char>(~count & 0xFF);
  member += static_cast<char>((~count >> 8) & 0xFF);
  member += content;
  const uint32_t crc = Crc(content);
  for (uint32_t value : {crc, static_cast<uint32_t>(count)}) {
    for (int shift = 0; shift < 32; shift += 8) {
      member += static_cast<char>((value >> shift) & 0xFF);
    }
  }
  return member;
}

// The input behind a member that ends |offset| bytes before the codec's
// first block does, so the block boundary falls inside the input.
void CheckAcrossBlockBoundary(std::string_view in, const Decoded& want) {
  const size_t offset = 1 + (in.size() * 31 + static_cast<uint8_t>(in[in.size() / 2])) %
                                std::min<size_t>(in.size() - 1, 4096);
  std::string content;
  std::string shifted = StoredMember(kCodecBlock - offset - kStoredMemberOverhead, content);
  shifted.append(in);
  Decoded shifted_want = want;
  if (want.ok) {
    shifted_want.bytes = content + want.bytes;
    shifted_want.consumed += shifted.size() - in.size();
  }
  CheckAgainst(shifted, shifted_want, Expand(shifted));
}

// The bytes compressed by the codec must expand to themselves.
void CheckRoundTrip(std::string_view in) {
  qx_fuzz::QuietUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  qx::FilePtr input = MemoryFile(in, "rb");
  qx::FilePtr output = MemoryFile({}, "w+b");
  int64_t stored = -1;
  int64_t expanded = -1;
  Require(qx::CompressFile(input.get(), output.get(), true, &stored, &expanded, nullptr, 0,
                           nullptr) == qx::kCodecOk,
          "compress");
  const std::string compressed = Contents(output.get());
  Require(stored == static_cast<int64_t>(compressed.size()) &&
              expanded == static_cast<int64_t>(in.size()),
          "compress counts");
  const Decoded want = Decode(compressed);
  Require(want.ok && want.bytes == in, "compressed member does not decode to its input");
  CheckAgainst(compressed, want, Expand(compressed));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const Decoded want = Decode(in);
  CheckAgainst(in, want, Expand(in));
  if (IsGzipMagic(in, 0) && in.size() > 2) {
    CheckAcrossBlockBoundary(in, want);
  }
  CheckRoundTrip(in);
  return 0;
}
