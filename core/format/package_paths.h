#pragma once

// Paths of a package as the client names them: references, extensions, file
// and directory parts. Format layer.

#include <cstddef>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// "NAME.qxw", the header's file name beside its stored files.
QXWEBCORE_EXPORT std::string HeaderFileName(std::string_view appl_name);

// True when |text| holds no ":" (no drive and no scheme).
QXWEBCORE_EXPORT bool IsRelativeReference(std::string_view text);
// True when |text| begins with "file:/" (exact case).
QXWEBCORE_EXPORT bool IsFileUrl(std::string_view text);

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
// Extension "htm" / "qxw", ignoring case.
QXWEBCORE_EXPORT bool IsHtmPath(std::string_view path);
QXWEBCORE_EXPORT bool IsHeaderPath(std::string_view path);

}  // namespace qx
