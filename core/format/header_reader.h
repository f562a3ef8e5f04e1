#pragma once

// The package header reader: the PackageHeader record with its values and
// file entries, counting, reading and verifying a header, and the entry
// array. Format layer.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "qxwebcore_export.h"

namespace qx {

// Result codes of the reader and the record operations.
inline constexpr int kHeaderOk = 0;
inline constexpr int kHeaderFailed = -1;  // bad argument, not a header, or failed check
inline constexpr int kHeaderNoMemory = -2;

// Capacities, in characters, of the record texts that do not come from a key
// line (those are in kHeaderKeys). Longer values are cut.
inline constexpr size_t kMaxPackageDirectory = 522;
inline constexpr size_t kMaxNeutralInstallTo = 82;
inline constexpr size_t kMaxHeaderDigest = 41;
inline constexpr size_t kMaxEntryStatus = 30;
inline constexpr size_t kMaxEntryName = 260;
inline constexpr size_t kMaxEntryTempPath = 262;
inline constexpr size_t kMaxEntryDigest = 47;
// The joined text of one file entry.
inline constexpr size_t kMaxEntryText = 256;
// Most entries a header may have: each costs a record of a few hundred
// bytes, so a header of nothing but short comment lines must not be able to
// take all memory.
inline constexpr int32_t kMaxHeaderEntries = 1000000;
// Beyond its first kHeaderEntriesWithoutBudget entries, a header must hold
// kHeaderBytesPerEntry bytes per entry on average (a sealed file entry has
// about 150), which keeps the record within about ten times the header.
inline constexpr int32_t kHeaderEntriesWithoutBudget = 1024;
inline constexpr int64_t kHeaderBytesPerEntry = 32;

// Entry states. 0 is a file entry as read or as validated; 1 to 4 are set by
// the client (the writer leaves out entries in states 3 and 4).
inline constexpr int32_t kEntryStateFile = 0;
inline constexpr int32_t kEntryStateComment = 5;

// Status texts of a failed validation.
inline constexpr std::string_view kStatusMissing = "Missing";
inline constexpr std::string_view kStatusInvalid = "Invalid";

// Format version from the magic line; the reserved words are always 0.
struct FormatVersion {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t reserved1 = 0;
  int32_t reserved2 = 0;
};

// The values of a header's key lines.
struct HeaderValues {
  FormatVersion format_version;
  std::string owner;
  std::string copyright;
  std::string appl_name;
  std::string command_line;
  VersionNumber version;
  VersionNumber min_version;
  std::string date;  // the value text, which also keys the header digest
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = 0;
  bool delete_package = false;
  std::string readme_file;
  std::string registry_file;
  std::string download_splash;
  std::string launch_splash;
  std::string download_icon;
  std::string launch_icon;
  std::string corrupt_icon;
  std::string launch_splash_duration;
  bool combine_download_launch = false;
  bool company_identity = false;
  bool download_detail = false;
  std::string install_to;
  std::string neutral_install_to;  // separators as "|"; empty when install_to is
  bool update_required = false;
  std::string comment;
  std::string header_digest;  // the trailer's value
  // Whether the header held a RegistryFile line; the writer then keeps the
  // line for a format 1 record, whose digest covers it.
  bool registry_file_line = false;
};

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

// A parsed package header. The entry count is entries.size().
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

// Number of entry lines of an open header (rewound first): "File:" lines, and
// after the ApplName line also ";" lines. Fills |version| from the magic line.
// 0 when the file does not start with the magic.
QXWEBCORE_EXPORT int CountHeaderEntries(std::FILE* file, FormatVersion* version);

// Reads and verifies an open header. |record| may hold the record of an
// earlier read, whose entry array is reused; it receives a fresh record,
// which keeps the bytes read as its source text.
// 0 when read and verified; -1 on a bad argument, a missing magic or no entry
// lines (record untouched), and on a digest mismatch (record filled, corrupt
// set) or an ApplName / InstallTo that cannot be a safe directory (record
// filled, package_directory empty); -2 when memory runs out or the header
// has more entries than kMaxHeaderEntries or than its size allows (above)
// (record untouched).
QXWEBCORE_EXPORT int ReadPackageHeader(std::FILE* file, FormatVersion* version,
                                       std::unique_ptr<PackageHeader>* record);

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

namespace detail {

// What the reader made of one line of a header, or of the lines of one file
// entry.
enum class HeaderLineRole : uint8_t {
  kMagic,    // the first line, which gives the format version
  kBlank,    // nothing but blanks
  kKey,      // a key line
  kComment,  // a ";" line
  kEntry,    // a file entry's first line and the lines it continues into
  kTrailer,  // a SECURE_MD5 line
  kOther,    // any other line: digested, and nothing of it kept
};

// One line, or one file entry's lines, as the reader took it.
struct HeaderLineItem {
  HeaderLineRole role = HeaderLineRole::kOther;
  const HeaderKeyInfo* key = nullptr;  // the key of a key line
  // The entry a comment or file entry became, or -1 when the record has no
  // room left for it (or, for a comment, the ApplName is still empty).
  int32_t entry = -1;
  // Whether the count pass counted a comment line as an entry line: it
  // follows a line that starts with the ApplName key.
  bool counted = false;
  // The physical lines without line ends and trailing blanks, as the header
  // digest takes them.
  std::vector<std::string_view> lines;
};

using HeaderLineVisitor = std::function<void(const HeaderLineItem&)>;

// Reads an open header as ReadPackageHeader does, into a fresh |record|
// (whose source text stays empty), telling |visitor| what each line was
// taken for, in order, right after the record has taken it. The same
// results as ReadPackageHeader.
int ReadHeaderLines(std::FILE* file, std::unique_ptr<PackageHeader>* record,
                    const HeaderLineVisitor& visitor);

}  // namespace detail

}  // namespace qx
