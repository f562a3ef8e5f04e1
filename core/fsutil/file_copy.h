#pragma once

// Copies of a file with its time stamps: the plain copy, and the copy through
// a transfer of the caller's. File-system utility layer.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Results of CopyFilePlain, CopyFileThrough, CompressFileByName and
// ExpandFileByName.
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
// The expansion passed the size the file must have, and was stopped.
inline constexpr int kFileCopyPastSize = 6;
// The expansion ended short of the size the file must have.
inline constexpr int kFileCopyShortOfSize = 7;
// The source is no regular file (a link, a device, a pipe, a directory).
inline constexpr int kFileCopyNotRegular = 8;

// Size of the blocks a plain copy moves.
inline constexpr size_t kCopyBlockSize = 516;

// Copies |source| to |destination| (created or emptied first) byte for byte
// and carries the source's time stamps over to it. Returns kFileCopyOk or one
// of the failure codes above; a failed copy leaves what was written.
QXWEBCORE_EXPORT int CopyFilePlain(const std::string& source, const std::string& destination);

// Copies at most |limit| bytes of the regular file |source| to the new or
// emptied |destination| and carries its times over. |source| is opened
// without following a link and without blocking, so that a link, a device or
// a pipe in its place is refused (kFileCopyNotRegular) rather than read.
// Returns kFileCopyOk or one of the failure codes above.
QXWEBCORE_EXPORT int CopyRegularFile(const std::string& source, const std::string& destination,
                                     uint64_t limit);

// Opens |source|, creates |destination| (refusing to create the source over
// itself), lets |transfer| move the bytes from one stream to the other, then
// closes the destination, checking that every byte reached it, and carries
// the source's time stamps over. |transfer| returns kFileCopyOk or a failure
// code, which is returned as it is.
QXWEBCORE_EXPORT int CopyFileThrough(const std::string& source, const std::string& destination,
                                     const std::function<int(std::FILE*, std::FILE*)>& transfer);

}  // namespace qx
