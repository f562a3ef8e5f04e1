#pragma once

// Private-profile INI files: reading strings and numbers, writing and
// deleting keys and sections, listing key and section names. Platform layer.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qxwebcore_export.h"

// Private-profile INI files: "[Section]" lines followed by "Key=Value" lines.
//
// Section and key names compare without regard to ASCII case; names and
// values are trimmed of surrounding blanks; when a key (or a section) occurs
// twice, the first occurrence wins (a repeated section adds its keys behind
// those of the first). Lines starting with ";" are comments. The file is read
// again on every call, so other processes' writes are seen at once. A write
// changes only the lines it concerns, keeps every other line byte for byte,
// keeps the file's line ends (CR LF for a new file) and replaces the file
// atomically through a temporary file in the same directory.
namespace qx {

// Whether two section or key names are the same name: equal without regard
// to ASCII case.
QXWEBCORE_EXPORT bool ProfileNamesEqual(std::string_view a, std::string_view b);

// The value of |key| in |section|, or |default_value| (trailing blanks
// removed) when the file, the section or the key is missing. Like a buffer of
// |buffer_size| characters with its terminating zero, |out| receives at most
// buffer_size - 1 characters. Returns the number of characters copied.
QXWEBCORE_EXPORT size_t ReadProfileString(const std::string& path, std::string_view section,
                                          std::string_view key, std::string_view default_value,
                                          size_t buffer_size, std::string& out);

// The value of |key| as a decimal number (optional sign, then digits; reading
// stops at the first other character, values beyond int are clamped); a text
// without digits reads as 0. |default_value| when the key is missing or empty.
QXWEBCORE_EXPORT int ReadProfileInt(const std::string& path, std::string_view section,
                                    std::string_view key, int default_value);

// Sets |key| of |section| to |value|, adding the section and the key when they
// are missing and creating the file when it is missing (its directory must
// exist). A null |value| deletes the key; a null |key| deletes the whole
// section. Returns false when the file could not be replaced (the old file is
// then unchanged) or when a name or value cannot be stored: a line break or NUL
// anywhere, "]" in the section, an empty key, "=" in the key or a key starting
// with "[" or ";". Deleting what is not there succeeds without writing.
QXWEBCORE_EXPORT bool WriteProfileString(const std::string& path, std::string_view section,
                                         std::optional<std::string_view> key,
                                         std::optional<std::string_view> value);

// The key names of |section| in file order, each once (first spelling).
QXWEBCORE_EXPORT std::vector<std::string> ReadProfileKeys(const std::string& path,
                                                          std::string_view section);

// The section names of the file in file order, each once (first spelling).
QXWEBCORE_EXPORT std::vector<std::string> ReadProfileSections(const std::string& path);

}  // namespace qx
