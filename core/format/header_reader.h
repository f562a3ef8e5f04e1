#pragma once

// The package header record of the client: a header's values and entries
// beside the client's run-time state, the reader over an open file that
// fills it, and the entry array. Format layer (ReadPackageHeader, which
// places the package under the cache root, is the package layer's: see
// core/package/package_header.h).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "core/format/header_value.h"
#include "qxwebcore_export.h"

namespace qx {

// Capacities, in characters, of the record texts of the client's own (the
// header's are in header_value.h and kHeaderKeys). Longer values are cut.
inline constexpr size_t kMaxPackageDirectory = 522;
inline constexpr size_t kMaxEntryStatus = 30;
inline constexpr size_t kMaxEntryTempPath = 262;

// Entry states. 0 is a file entry as read or as validated; 1 to 4 are set by
// the client (the writer leaves out entries in states 3 and 4).
inline constexpr int32_t kEntryStateFile = 0;
inline constexpr int32_t kEntryStateComment = 5;

// Status texts of a failed validation.
inline constexpr std::string_view kStatusMissing = "Missing";
inline constexpr std::string_view kStatusInvalid = "Invalid";

// One file entry or comment line of a header.
struct FileEntry {
  int32_t state = kEntryStateFile;
  bool error = false;  // set by validation: missing, wrong size or unsafe name
  bool comment = false;
  int32_t client_words[3] = {};
  std::string status;        // "Missing" or "Invalid" after a failed validation
  std::string name;          // as written, relative to the package directory
  std::string neutral_name;  // separators as "|"; a comment entry's text
  std::string temp_path;     // file the entry was last expanded into
  int32_t hours = 0;
  int32_t minutes = 0;
  int32_t seconds = 0;
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = 0;
  VersionNumber version;
  int64_t length = 0;    // bytes as stored
  int64_t size = 0;      // bytes expanded
  int64_t progress = 0;  // set by the client
  std::string digest;    // the entry's SECURE_MD5
};

// The client's record of a package header: the header's values and entries
// beside the client's run-time state. The entry count is entries.size().
struct PackageHeader {
  int32_t client_words[3] = {};
  bool corrupt = false;      // the header digest did not match
  bool stored_form = false;  // set by the client while files are held compressed
  std::vector<uint8_t> client_area;
  // Native path of the package: cache root, InstallTo, ApplName. Empty when
  // those do not make a safe path; nothing then builds a path from it.
  std::string package_directory;
  HeaderValues values;
  int32_t client_tail_words[3] = {};
  std::vector<std::unique_ptr<FileEntry>> entries;
  // The header's bytes as the reader read them: the writer writes a record
  // read from a header back line for line from them. Empty for a record
  // made otherwise.
  std::string source_text;
};

// The whole of an open header, read from its start into |bytes|. False for
// no file or no buffer.
QXWEBCORE_EXPORT bool ReadWholeHeader(std::FILE* file, std::string* bytes);

// Number of entry lines of an open header (rewound first): "File:" lines, and
// after the ApplName line also ";" lines. Fills |version| from the magic line.
// 0 when the file does not start with the magic.
QXWEBCORE_EXPORT int CountHeaderEntries(std::FILE* file, FormatVersion* version);

// Reads and verifies an open header: ParseHeader over the file's bytes,
// with the package directory then placed under the cache root (defined in
// the package layer, core/package/package_header.cpp, which may use the
// cache root). |record| may hold the record of an earlier read, whose entry
// array is reused; it receives a fresh record, which keeps the bytes read as
// its source text.
// 0 when read and verified; -1 on a bad argument, a missing magic or no entry
// lines (record untouched), and on a digest mismatch (record filled, corrupt
// set) or an ApplName / InstallTo that cannot be a safe directory (record
// filled, package_directory empty); -2 when memory runs out or the header
// has more entries than kMaxHeaderEntries or than its size allows (see
// header_value.h) (record untouched).
QXWEBCORE_EXPORT int ReadPackageHeader(std::FILE* file, FormatVersion* version,
                                       std::unique_ptr<PackageHeader>* record);

// Gives |entry| the values of |from|, a header's entry, leaving the client's
// state as it is: a comment entry goes to state 5, a file entry leaves it.
QXWEBCORE_EXPORT void AssignHeaderEntry(const HeaderEntry& from, FileEntry* entry);

// Parses the joined text of a file entry into |entry|. 0, or -1 for no entry.
QXWEBCORE_EXPORT int ParseFileEntry(std::string_view text, FileEntry* entry);

// Resizes the entry array to |count| entries, releasing those beyond it and
// giving every new position a new zeroed entry. 0; -1 for no record or a
// negative count; -2 when memory runs out (the array is then unchanged).
QXWEBCORE_EXPORT int ResizeEntryArray(PackageHeader* record, int32_t count);

// Releases every entry. 0; -1 for no record or no entries.
QXWEBCORE_EXPORT int FreeEntryArray(PackageHeader* record);

// -2 / 2 when |a|'s major is lower / higher, -1 / 1 when the majors are equal
// and |a|'s minor is lower / higher, 0 when equal; 0 for a null |a| and 2
// when only |b| is null.
QXWEBCORE_EXPORT int CompareFormatVersion(const FormatVersion* a, const FormatVersion* b);

// Whether an application name can name a directory and a file: one safe
// path component.
QXWEBCORE_EXPORT bool IsSafeApplicationName(std::string_view name);

// The record's text value of a key; empty for keys whose values are not texts.
QXWEBCORE_EXPORT const std::string& HeaderTextValue(const HeaderValues& values, HeaderKey key);

// Whether |name| is one of the header's named files (ReadmeFile to
// CorruptIcon), which the sealer stores unchanged; separators of either kind
// compare alike.
QXWEBCORE_EXPORT bool IsNamedFileEntry(const HeaderValues& values, std::string_view name);

}  // namespace qx
