#pragma once

// How long an entry name the package header takes: the client's reader
// takes an entry whole only when each of its lines fits the reader's line
// buffer and the joined entry text fits its capacity. Sealer engine, without
// a window.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qx {

// Every file of the list is entered under this version; only the named
// files carry the package's own.
inline constexpr std::string_view kListEntryVersion = "01.00.00";

// Whether the client's reader takes an entry's lines whole.
bool EntryFitsReader(const std::array<std::string, 3>& lines);

// Twelve digits: the widest Length and Size a file of the list is taken to
// give when its size is not at hand.
inline constexpr int64_t kWidestCount = 999'999'999'999;

// The stored Length a list file of |size| bytes gives at most: deflate's
// worst case grows a file by a few bytes in a thousand.
int64_t WorstStoredLength(int64_t size);

// The longest entry name, in bytes ("\" between levels), that the reader
// takes whole in an entry of version |version_text| with |length| and
// |size|, the digest, time and date at their fixed width. 0 when even an
// empty name would not fit.
size_t LongestEntryName(std::string_view version_text, int64_t length = kWidestCount,
                        int64_t size = kWidestCount);

// The same for a file of the list, which is entered under kListEntryVersion,
// whatever its size: a name this long always fits.
size_t LongestListEntryName();

// "File name NAME is too long for the package header (at most N bytes)".
std::string EntryNameTooLong(std::string_view name, size_t longest);

}  // namespace qx
