#pragma once

// A package header as a value: its format version, key values and file
// entries, and every line in its place, parsed from the header's bytes with
// nothing of a client's run-time state in it. Format layer.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "core/platform/result.h"
#include "qxwebcore_export.h"

namespace qx {

// Capacities, in characters, of the header texts that do not come from a key
// line (those are in kHeaderKeys). Longer values are cut.
inline constexpr size_t kMaxNeutralInstallTo = 82;
inline constexpr size_t kMaxHeaderDigest = 41;
inline constexpr size_t kMaxEntryName = 260;
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

// Result codes of the reader and the record operations; also the codes of a
// parse's Error.
inline constexpr int kHeaderOk = 0;
inline constexpr int kHeaderFailed = -1;  // bad argument, not a header, or failed check
inline constexpr int kHeaderNoMemory = -2;

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

// One file entry or comment line as the header gives it.
struct HeaderEntry {
  bool comment = false;
  std::string name;          // as written, relative to the package directory
  std::string neutral_name;  // separators as "|"; a comment entry's text
  int32_t hours = 0;
  int32_t minutes = 0;
  int32_t seconds = 0;
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = 0;
  VersionNumber version;
  int64_t length = 0;  // bytes as stored
  int64_t size = 0;    // bytes expanded
  std::string digest;  // the entry's SECURE_MD5
};

// What the parse made of one line of a header, or of the lines of one file
// entry.
enum class HeaderLineRole : uint8_t {
  kMagic,    // the first line, which gives the format version
  kBlank,    // nothing but blanks
  kKey,      // a key line
  kComment,  // a ";" line
  kEntry,    // a file entry's first line and the lines it continues into
  kTrailer,  // a SECURE_MD5 line
  kOther,    // any other line: digested, and nothing of it kept as a value
};

// One line, or one file entry's lines, in its place in the header.
struct HeaderLine {
  HeaderLineRole role = HeaderLineRole::kOther;
  const HeaderKeyInfo* key = nullptr;  // the key of a key line
  // The entry a comment or file entry became, or -1 when the header has no
  // room left for it (or, for a comment, the ApplName is still empty).
  int32_t entry = -1;
  // Whether the count pass counted a comment line as an entry line: it
  // follows a line that starts with the ApplName key.
  bool counted = false;
  // The physical lines without line ends and trailing blanks, as the header
  // digest takes them.
  std::vector<std::string> text;
};

// A parsed package header.
struct ParsedHeader {
  HeaderValues values;  // values.format_version is the magic line's
  std::vector<HeaderEntry> entries;
  // Every line in the order read, those the header keeps no value of among
  // them, so that a writer can follow the header as it was.
  std::vector<HeaderLine> lines;
  // Whether the trailer holds the digest of the header's significant lines.
  bool digest_matches = false;
};

// Parses a header's bytes. Fails (Error code kHeaderFailed) when they do not
// start with the magic or have no entry lines, and (kHeaderNoMemory) when
// memory runs out or the header has more entries than kMaxHeaderEntries or
// than its size allows. A header whose digest does not match still parses.
QXWEBCORE_EXPORT Result<ParsedHeader> ParseHeader(std::string_view bytes);

// Number of entry lines of a header's bytes: "File:" lines, and after the
// ApplName line also ";" lines. Fills |version| (may be null) from the magic
// line. 0 when the bytes do not start with the magic.
QXWEBCORE_EXPORT int CountHeaderEntryLines(std::string_view bytes, FormatVersion* version);

namespace detail {

// Takes the entries of a parse as it makes them, for a reader that keeps
// them in a record of its own and need not hold them twice.
class HeaderEntrySink {
 public:
  virtual ~HeaderEntrySink() = default;
  // Before the first entry: the count pass's number of entry lines, which
  // no parse exceeds. False when there is no memory for them.
  virtual bool Prepare(int32_t count) = 0;
  // The next entry, in order.
  virtual void Take(HeaderEntry&& entry) = 0;
};

// ParseHeader, handing the entries to |sink| and keeping no lines: the
// result's entries and lines stay empty.
Result<ParsedHeader> ParseHeaderInto(std::string_view bytes, HeaderEntrySink& sink);

}  // namespace detail

}  // namespace qx
