#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Longest cache root kept; a longer path is cut.
inline constexpr size_t kMaxCacheRoot = 260;
// The character that stands for any separator in a neutral name.
inline constexpr char kNeutralSeparator = '|';

// The process-wide cache root under which every package directory lies.
QXWEBCORE_EXPORT void SetCacheRoot(std::string_view path);
QXWEBCORE_EXPORT std::string GetCacheRoot();

// True when |text| holds no ":" (no drive and no scheme).
QXWEBCORE_EXPORT bool IsRelativeReference(std::string_view text);
// True when |text| begins with "file:/" (exact case).
QXWEBCORE_EXPORT bool IsFileUrl(std::string_view text);

// True for "\" and "/".
constexpr bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

// The text after the last "." at position 1 or later; empty when there is
// none. The search does not stop at separators.
QXWEBCORE_EXPORT std::string PathExtension(std::string_view path);
// The text after the last separator (the whole path when there is none).
QXWEBCORE_EXPORT std::string PathFileName(std::string_view path);
// The file name without its extension.
QXWEBCORE_EXPORT std::string PathBaseName(std::string_view path);
// The drive and directory of |path| without the trailing separator; empty
// when the path has no directory.
QXWEBCORE_EXPORT std::string PathDirectory(std::string_view path);
// |path| with every separator replaced by "|".
QXWEBCORE_EXPORT std::string NeutralPath(std::string_view path);
// Appends |neutral| to |destination| with every "|" replaced by the first
// character of |separator|.
QXWEBCORE_EXPORT std::string& AppendNeutralPath(std::string_view separator,
                                                std::string& destination, std::string_view neutral);
// Extension "htm" / "qxw", ignoring case.
QXWEBCORE_EXPORT bool IsHtmPath(std::string_view path);
QXWEBCORE_EXPORT bool IsHeaderPath(std::string_view path);

// Whether a relative name read from a header, project or archive may be
// joined to a directory: not empty, not absolute, no drive, no "." or ".."
// component, no empty component, no control character, and no "|" (which
// the neutral form turns into a separator).
QXWEBCORE_EXPORT bool IsSafeRelativeName(std::string_view name);
// |directory| joined with the relative |name|, whose separators become "/".
// The caller checks |name| with IsSafeRelativeName first.
QXWEBCORE_EXPORT std::string JoinNativePath(std::string_view directory, std::string_view name);

}  // namespace qx
