#pragma once

// The texts and lines of the package header format that both writers and the
// reader share: keys, magic, comment, entry and trailer lines, the digest
// rule, the line reader and HeaderLineWriter. Format layer.

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/digest/secure_digest.h"
#include "qxwebcore_export.h"

namespace qx {

// Texts of the package header format, shared by the sealer's writer, the
// library's writer and the reader.
inline constexpr std::string_view kHeaderMagic = "##QXWEB## ";
inline constexpr std::string_view kProjectMagic = "##QXKWS## ";
inline constexpr std::string_view kSealerFormatVersion = "1.0";
inline constexpr std::string_view kHeaderExtension = "qxw";
inline constexpr std::string_view kDigestKey = "SECURE_MD5";
inline constexpr std::string_view kFileKey = "File";
inline constexpr std::string_view kTimeKey = "Time";
inline constexpr std::string_view kDateKey = "Date";
inline constexpr std::string_view kVersionKey = "Version";
inline constexpr std::string_view kLengthKey = "Length";
inline constexpr std::string_view kSizeKey = "Size";
inline constexpr char kCommentMark = ';';
inline constexpr std::string_view kYes = "Yes";
inline constexpr std::string_view kNo = "No";
inline constexpr std::string_view kRequired = "Required";
inline constexpr std::string_view kOptional = "Optional";

// Longest line a header may hold (the reader's buffer is one more).
inline constexpr size_t kMaxHeaderLine = 255;

// The key lines, in the order both writers write them.
enum class HeaderKey : uint8_t {
  kOwner,
  kCopyright,
  kApplName,
  kCommandLine,
  kVersion,
  kMinVersion,
  kDate,
  kDelete,
  kReadmeFile,
  kRegistryFile,
  kCompanyIdentity,
  kDownloadSplash,
  kLaunchSplash,
  kDownloadIcon,
  kLaunchIcon,
  kCorruptIcon,
  kDownloadDetail,
  kCombineDownloadLaunch,
  kLaunchSplashDuration,
  kInstallTo,
  kUpdateOption,
  kComment,
};
inline constexpr size_t kHeaderKeyCount = 22;

// How the reader keeps a key's value.
enum class HeaderValueKind : uint8_t { kText, kVersion, kDate, kFlag, kUpdateOption };

// One key as every record that keeps it sees it: the package header, the
// sealer's project file (whose record keeps every key as text) and the
// client's cache record (which keeps a few of them under its own names).
struct HeaderKeyInfo {
  HeaderKey key;
  std::string_view name;
  HeaderValueKind kind;
  size_t capacity;  // characters the reader keeps of a text value; 0 otherwise
  bool digested;
  // Buffer size of the project file's field, terminating zero included: a
  // value read keeps one character less.
  size_t project_width;
  // The cache record's key and buffer size (terminating zero included);
  // empty and 0 for the keys it does not keep.
  std::string_view cache_key;
  size_t cache_size;
};

// The one table of the keys: the reader, both writers, the project file and
// the cache record all take their names and sizes from it.
inline constexpr std::array<HeaderKeyInfo, kHeaderKeyCount> kHeaderKeys = {{
    {HeaderKey::kOwner, "Owner", HeaderValueKind::kText, 80, true, 128, "Owner", 128},
    {HeaderKey::kCopyright, "Copyright", HeaderValueKind::kText, 80, true, 128, "Copyright", 128},
    {HeaderKey::kApplName, "ApplName", HeaderValueKind::kText, 80, true, 256, {}, 0},
    {HeaderKey::kCommandLine, "CommandLine", HeaderValueKind::kText, 256, false, 128, "CommandLine",
     128},
    {HeaderKey::kVersion, "Version", HeaderValueKind::kVersion, 0, true, 10, "Version", 10},
    {HeaderKey::kMinVersion, "MinVersion", HeaderValueKind::kVersion, 0, true, 10, {}, 0},
    {HeaderKey::kDate, "Date", HeaderValueKind::kDate, 11, true, 11, {}, 0},
    {HeaderKey::kDelete, "Delete", HeaderValueKind::kFlag, 0, true, 5, {}, 0},
    {HeaderKey::kReadmeFile, "ReadmeFile", HeaderValueKind::kText, 260, true, 256, "ReadmeTxt",
     256},
    {HeaderKey::kRegistryFile, "RegistryFile", HeaderValueKind::kText, 260, true, 256, {}, 0},
    {HeaderKey::kCompanyIdentity, "CompanyIdentity", HeaderValueKind::kFlag, 0, true, 4, {}, 0},
    {HeaderKey::kDownloadSplash, "DownloadSplash", HeaderValueKind::kText, 260, true, 256, {}, 0},
    {HeaderKey::kLaunchSplash, "LaunchSplash", HeaderValueKind::kText, 260, true, 256, {}, 0},
    {HeaderKey::kDownloadIcon, "DownloadIcon", HeaderValueKind::kText, 260, true, 256, {}, 0},
    {HeaderKey::kLaunchIcon, "LaunchIcon", HeaderValueKind::kText, 260, true, 256, {}, 0},
    {HeaderKey::kCorruptIcon, "CorruptIcon", HeaderValueKind::kText, 260, true, 256, {}, 0},
    {HeaderKey::kDownloadDetail, "DownloadDetail", HeaderValueKind::kFlag, 0, true, 4, {}, 0},
    {HeaderKey::kCombineDownloadLaunch,
     "CombineDownloadLaunch",
     HeaderValueKind::kFlag,
     0,
     true,
     4,
     {},
     0},
    {HeaderKey::kLaunchSplashDuration,
     "LaunchSplashDuration",
     HeaderValueKind::kText,
     8,
     true,
     8,
     {},
     0},
    {HeaderKey::kInstallTo, "InstallTo", HeaderValueKind::kText, 80, true, 256, {}, 0},
    {HeaderKey::kUpdateOption, "UpdateOption", HeaderValueKind::kUpdateOption, 0, true, 10, {}, 0},
    {HeaderKey::kComment, "Comment", HeaderValueKind::kText, 256, true, 516, {}, 0},
}};

// The order in which the reader tests a line against the keys: the write
// order, except that LaunchSplashDuration is tested before LaunchSplash,
// whose name it begins with.
inline constexpr std::array<HeaderKey, kHeaderKeyCount> kHeaderKeyReadOrder = {{
    HeaderKey::kOwner,
    HeaderKey::kCopyright,
    HeaderKey::kApplName,
    HeaderKey::kCommandLine,
    HeaderKey::kVersion,
    HeaderKey::kMinVersion,
    HeaderKey::kDate,
    HeaderKey::kDelete,
    HeaderKey::kReadmeFile,
    HeaderKey::kRegistryFile,
    HeaderKey::kCompanyIdentity,
    HeaderKey::kDownloadSplash,
    HeaderKey::kLaunchSplashDuration,
    HeaderKey::kLaunchSplash,
    HeaderKey::kDownloadIcon,
    HeaderKey::kLaunchIcon,
    HeaderKey::kCorruptIcon,
    HeaderKey::kDownloadDetail,
    HeaderKey::kCombineDownloadLaunch,
    HeaderKey::kInstallTo,
    HeaderKey::kUpdateOption,
    HeaderKey::kComment,
}};

constexpr const HeaderKeyInfo& HeaderKeyOf(HeaderKey key) {
  return kHeaderKeys[static_cast<size_t>(key)];
}

// Which writer produces a header; they differ in a few visible points.
enum class HeaderWriter : uint8_t { kSealer, kLibrary };

// Version number of a package or an entry: three numbers and an optional
// letter (0 when none).
struct VersionNumber {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t dotdot = 0;
  char letter = 0;
};

// "%02d.%02d.%02d" and the letter when set.
QXWEBCORE_EXPORT std::string FormatVersionText(const VersionNumber& version);
// "%02d/%02d/%04d" from month, day, year.
QXWEBCORE_EXPORT std::string FormatDateText(int month, int day, int year);
// "%02d:%02d:%02d" from hours, minutes, seconds.
QXWEBCORE_EXPORT std::string FormatTimeText(int hours, int minutes, int seconds);

// "##QXWEB## 1.0", the sealer's magic line.
QXWEBCORE_EXPORT std::string SealerMagicLine();
// "##QXWEB## %d.%d", the library writer's magic line.
QXWEBCORE_EXPORT std::string LibraryMagicLine(int major, int minor);

// The six lines that follow the magic line; line 2 names the writer.
QXWEBCORE_EXPORT std::array<std::string_view, 6> CommentBlock(HeaderWriter writer);

// "Key: value"; an empty value gives "Key:" (sealer) or "Key: " (library).
QXWEBCORE_EXPORT std::string KeyLine(std::string_view key, std::string_view value,
                                     HeaderWriter writer);

// The three physical lines of a file entry, without line ends; the first two
// end with " \" (continued). The sealer writes preformatted texts ...
QXWEBCORE_EXPORT std::array<std::string, 3> SealerEntryLines(
    std::string_view name, std::string_view time_text, std::string_view date_text,
    std::string_view version_text, int64_t length, int64_t size, std::string_view digest);

// ... the library writer formats an entry record's numbers; both give the
// same text for the same values.
struct EntryFields {
  std::string_view name;
  int32_t hours = 0, minutes = 0, seconds = 0;
  int32_t month = 0, day = 0, year = 0;
  VersionNumber version;
  int64_t length = 0;
  int64_t size = 0;
  std::string_view digest;
};
QXWEBCORE_EXPORT std::array<std::string, 3> LibraryEntryLines(const EntryFields& entry);

// ";" and the comment text.
QXWEBCORE_EXPORT std::string CommentLine(std::string_view text);
// "SECURE_MD5: " and the header digest.
QXWEBCORE_EXPORT std::string TrailerLine(std::string_view digest);

// The text of a line that feeds the header digest: the line without its line
// end and trailing white space (leading white space kept).
QXWEBCORE_EXPORT std::string_view DigestedText(std::string_view line);

// Whether a line outside a file entry feeds the header digest: not blank, not
// a comment (first non-blank character ";"), not the CommandLine line and not
// the trailer. Every physical line of a file entry feeds it.
QXWEBCORE_EXPORT bool IsSignificantLine(std::string_view line);

// Reads the next line as a buffer of kMaxHeaderLine + 1 bytes takes it: up to
// and including its line feed, or the first kMaxHeaderLine characters of a
// longer line, whose rest then comes as the next line. False at end of file
// (or on a read error) with nothing read.
QXWEBCORE_EXPORT bool ReadHeaderLine(std::FILE* file, std::string& line);

// |text| without leading white space.
QXWEBCORE_EXPORT std::string_view SkipBlanks(std::string_view text);

// Case-insensitive test that |text| begins with |prefix|.
QXWEBCORE_EXPORT bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Writes text lines with CR LF line ends, as the formats keep them on disk,
// feeding the digested ones (without line end and trailing white space) to a
// digest. Remembers the first write failure.
class QXWEBCORE_EXPORT HeaderLineWriter {
 public:
  HeaderLineWriter(std::FILE* file, DigestContext* digest) : file_(file), digest_(digest) {}

  void WriteLine(std::string_view line, bool digested);
  // A key line in |writer|'s form, digested when the key is.
  void WriteKeyLine(HeaderKey key, std::string_view value, HeaderWriter writer);
  // The magic-less comment block of |writer|, not digested.
  void WriteCommentBlock(HeaderWriter writer);
  // The three lines of a file entry, all digested.
  void WriteEntryLines(const std::array<std::string, 3>& lines);

  bool ok() const { return ok_; }

 private:
  std::FILE* file_;
  DigestContext* digest_;
  bool ok_ = true;
};

}  // namespace qx
