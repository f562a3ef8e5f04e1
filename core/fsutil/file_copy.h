#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Results of CopyFilePlain and CompressFileByName.
inline constexpr int kFileCopyOk = 0;
inline constexpr int kFileCopySourceNotOpened = 1;
// Also when the destination is the source itself, which creating would empty.
inline constexpr int kFileCopyDestinationNotCreated = 2;
// Reading the source failed part way; the destination is incomplete.
inline constexpr int kFileCopyReadFailed = 3;
// The codec failed (after showing its message).
inline constexpr int kFileCopyCompressFailed = 4;
// Not every byte reached the destination.
inline constexpr int kFileCopyShortWrite = 5;

// Size of the blocks a plain copy moves.
inline constexpr size_t kCopyBlockSize = 516;

// Copies |source| to |destination| (created or emptied first) byte for byte
// and carries the source's time stamps over to it. Returns kFileCopyOk or one
// of the failure codes above; a failed copy leaves what was written.
QXWEBCORE_EXPORT int CopyFilePlain(const std::string& source, const std::string& destination);

// Compresses |source| into one gzip member (|compress| true) or expands it
// (false) into |destination| with CompressFile, whose digest is keyed by
// |key_text| (none: the plain digest) and dropped, then carries the source's
// time stamps over. Returns kFileCopyOk, kFileCopySourceNotOpened,
// kFileCopyDestinationNotCreated, kFileCopyCompressFailed or
// kFileCopyShortWrite.
QXWEBCORE_EXPORT int CompressFileByName(const std::string& source, const std::string& destination,
                                        bool compress, std::optional<std::string_view> key_text);

}  // namespace qx
