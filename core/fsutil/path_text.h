#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Length of a MakeTempName name.
inline constexpr size_t kTempNameLength = 12;

// |path| with every "\\" turned into "/", for the file system.
QXWEBCORE_EXPORT std::string NativeSeparators(std::string_view path);

// Removes one trailing separator ("\" or "/") from |path|, if it has one.
QXWEBCORE_EXPORT void StripTrailingBackslash(std::string& path);

// The drive root of a path whose second character is a colon: "C:" gives
// "C:\", "C:\dir\x" gives "C:\" and "C:/dir" gives "C:/" (the text up to the
// first separator, or all of it without one). Empty for any other path.
QXWEBCORE_EXPORT std::string GetDriveRoot(std::string_view path);

// A name for a temporary file, "D1234567.WEB": the first letter of today's
// weekday in universal time and the last seven digits of the millisecond
// tick count. Callers try again while a file of that name exists.
QXWEBCORE_EXPORT std::string MakeTempName();

}  // namespace qx
