#pragma once

// Path texts: separators of either kind, neutral names, the safe-name rule,
// joining a relative name to a native directory, temporary names. File-system
// utility layer; pure text, no file-system access.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Length of a MakeTempName name.
inline constexpr size_t kTempNameLength = 12;

// The character that stands for any separator in a neutral name.
inline constexpr char kNeutralSeparator = '|';

// True for "\" and "/".
constexpr bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

// True for the bytes below 0x20 and DEL.
constexpr bool IsControlCharacter(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// |text| with every control character shown as "?", as ls shows names: a
// hostile name can neither hide the rest of its line nor send a terminal
// commands.
QXWEBCORE_EXPORT std::string PrintableText(std::string_view text);

// |bytes| for a person: "512 bytes", "12.3 kB", "4.0 MB", "1.2 GB" (units of
// 1024, one decimal, rounded in whole numbers so that every build writes the
// same).
QXWEBCORE_EXPORT std::string ByteSizeText(int64_t bytes);

// |path| with every separator replaced by "|".
QXWEBCORE_EXPORT std::string NeutralPath(std::string_view path);
// Appends |neutral| to |destination| with every "|" replaced by the first
// character of |separator|.
QXWEBCORE_EXPORT std::string& AppendNeutralPath(std::string_view separator,
                                                std::string& destination, std::string_view neutral);

// What makes a relative name unsafe or unreadable on a client. One rule
// serves the scan, the seal and the reader.
enum class NameFault {
  kNone,
  kEmpty,             // no text at all
  kAbsolute,          // starts with a separator
  kDrive,             // "X:" in front
  kDotComponent,      // an empty, "." or ".." component
  kControlCharacter,  // a byte below 0x20, or DEL
  kNeutralSeparator,  // "|", which the neutral form turns into a separator
  kEdgeBlank,         // a component that starts or ends with a blank
  kQuote,             // a double quote
  kSemicolon,         // ";", which starts a comment in a list line
  kLongComponent,     // a component longer than kMaxNameComponent
};

// Longest component a client's file system takes.
inline constexpr size_t kMaxNameComponent = 255;

// The first fault of |name|, or kNone. Colons after the first two
// characters are ordinary.
QXWEBCORE_EXPORT NameFault CheckRelativeName(std::string_view name);
// The fault told to a user: "an absolute path", "a drive form", ...
QXWEBCORE_EXPORT const char* NameFaultText(NameFault fault);
// Whether a relative name read from a header, project or archive may be
// joined to a directory: CheckRelativeName finds no fault.
QXWEBCORE_EXPORT bool IsSafeRelativeName(std::string_view name);
// |directory| joined with the relative |name|, whose separators become "/".
// The caller checks |name| with IsSafeRelativeName first.
QXWEBCORE_EXPORT std::string JoinNativePath(std::string_view directory, std::string_view name);

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
