#pragma once

// CheckDiskSpace: the bytes a write needs against the space free on the file
// system of a path. File-system utility layer.

#include <cstdint>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Results of CheckDiskSpace.
inline constexpr int kDiskSpaceShort = 1;     // the need is not less than the free space
inline constexpr int kDiskSpaceEnough = 0;    // the need is less than the free space
inline constexpr int kDiskSpaceUnknown = -1;  // the free space could not be read

// Compares |needed| bytes with the space free for ordinary users on the file
// system that holds |path| (or, for a path that does not exist yet, its
// nearest existing parent).
QXWEBCORE_EXPORT int CheckDiskSpace(std::string_view path, uint64_t needed);

}  // namespace qx
