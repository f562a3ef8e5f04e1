#pragma once

// The cache root: the one directory under which every package of a client
// lies, set once by the client for the whole process. Cache layer.

#include <cstddef>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Longest cache root kept; a longer path is cut.
inline constexpr size_t kMaxCacheRoot = 260;

// The process-wide cache root under which every package directory lies.
QXWEBCORE_EXPORT void SetCacheRoot(std::string_view path);
QXWEBCORE_EXPORT std::string GetCacheRoot();

}  // namespace qx
