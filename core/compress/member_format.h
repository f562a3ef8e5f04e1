#pragma once

// Byte layouts that the codec writes and reads: the gzip member and the ZIP
// local file header. All multi-byte fields are little-endian. Codec layer.

#include <cstddef>
#include <cstdint>

namespace qx::codec_detail {

// --- gzip member ---
inline constexpr unsigned char kGzipMagic0 = 0x1F;
inline constexpr unsigned char kGzipMagic1 = 0x8B;
inline constexpr unsigned char kGzipOldMagic1 = 0x9E;
inline constexpr int kDeflateMethod = 8;
inline constexpr size_t kMemberHeaderSize = 10;
inline constexpr size_t kMemberTrailerSize = 8;
// Header bytes after the flag byte that are read and ignored: time (4),
// extra flags (1), operating system (1).
inline constexpr size_t kIgnoredHeaderBytes = 6;

// Flag bits of a gzip member header.
inline constexpr unsigned kFlagText = 0x01;
inline constexpr unsigned kFlagContinuation = 0x02;
inline constexpr unsigned kFlagExtraField = 0x04;
inline constexpr unsigned kFlagName = 0x08;
inline constexpr unsigned kFlagComment = 0x10;
inline constexpr unsigned kFlagEncrypted = 0x20;
inline constexpr unsigned kFlagReserved = 0xC0;

// --- ZIP local file header ---
inline constexpr uint32_t kZipLocalSignature = 0x04034B50;  // "PK\3\4"
inline constexpr size_t kZipLocalHeaderSize = 30;
inline constexpr size_t kZipFlagsOffset = 6;
inline constexpr size_t kZipMethodOffset = 8;
inline constexpr size_t kZipCrcOffset = 14;
inline constexpr size_t kZipCompressedSizeOffset = 18;
inline constexpr size_t kZipSizeOffset = 22;
inline constexpr size_t kZipNameLengthOffset = 26;
inline constexpr size_t kZipExtraLengthOffset = 28;
inline constexpr unsigned kZipFlagEncrypted = 0x01;
inline constexpr unsigned kZipFlagDataDescriptor = 0x08;
inline constexpr int kZipStored = 0;
inline constexpr int kZipDeflated = 8;
// Signature, CRC-32, compressed size, size.
inline constexpr size_t kZipDataDescriptorSize = 16;
inline constexpr size_t kZipDescriptorCrcOffset = 4;
inline constexpr size_t kZipDescriptorSizeOffset = 12;
// A size field of all ones means the real sizes are kept elsewhere (64-bit
// extensions), which this reader does not take.
inline constexpr uint32_t kZipSizeElsewhere = 0xFFFFFFFF;

inline uint16_t GetLittleEndian16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetLittleEndian32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace qx::codec_detail
