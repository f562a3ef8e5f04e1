#pragma once

#include <cstddef>
#include <string>

#include "qxwebcore_export.h"

namespace qx {

// Results of CopyFilePlain (and of compressed copies).
inline constexpr int kFileCopyOk = 0;
inline constexpr int kFileCopySourceNotOpened = 1;
// Also when the destination is the source itself, which creating would empty.
inline constexpr int kFileCopyDestinationNotCreated = 2;
// Reading the source failed part way; the destination is incomplete.
inline constexpr int kFileCopyReadFailed = 3;
// Not every byte reached the destination.
inline constexpr int kFileCopyShortWrite = 5;

// Size of the blocks a plain copy moves.
inline constexpr size_t kCopyBlockSize = 516;

// Copies |source| to |destination| (created or emptied first) byte for byte
// and carries the source's time stamps over to it. Returns kFileCopyOk or one
// of the failure codes above; a failed copy leaves what was written.
QXWEBCORE_EXPORT int CopyFilePlain(const std::string& source, const std::string& destination);

}  // namespace qx
