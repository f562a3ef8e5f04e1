// The header parse: a header's bytes read into a header value, with the
// count pass, the key lines and file entries, every line kept in its place
// and the header digest checked; also the entry text of a file entry.
// Format layer.
#include <algorithm>
#include <limits>
#include <new>

#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/format/header_value.h"
#include "core/fsutil/path_text.h"

namespace qx {

namespace {

// Characters of the computed digest compared with the trailer's value.
constexpr size_t kDigestCompareLength = 40;
// What the count pass takes for a file entry's first line (exact case).
constexpr std::string_view kFileLineStart = "File:";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

void AssignCut(std::string& field, std::string_view value, size_t capacity) {
  field.assign(value.substr(0, capacity));
}

int32_t ToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Walks a value left to right the way the number fields are read: a number,
// then the next separator, then a number. A missing separator leaves the
// cursor at the end, where every further number reads as 0.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  // Moves past the next |c|; false (and to the end) when there is none.
  bool SkipPast(char c) {
    const size_t found = text_.find(c, pos_);
    pos_ = found == std::string_view::npos ? text_.size() : found + 1;
    return found != std::string_view::npos;
  }

  // A decimal number with optional blanks and sign before it, saturated.
  int64_t Number() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) {
      ++pos_;
    }
    bool negative = false;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
      negative = text_[pos_] == '-';
      ++pos_;
    }
    constexpr int64_t kLimit = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; pos_ < text_.size() && IsDigit(text_[pos_]); ++pos_) {
      const int digit = text_[pos_] - '0';
      value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
    }
    return negative ? -value : value;
  }

  // The character after a number's digits, or 0 at the end or a blank.
  char Letter() const {
    if (pos_ >= text_.size() || IsBlank(text_[pos_])) {
      return 0;
    }
    return text_[pos_];
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// "major.minor.dotdot" and the letter, starting after |lead|.
VersionNumber ParseVersion(std::string_view text, char lead) {
  VersionNumber version;
  Cursor cursor(text);
  if (!cursor.SkipPast(lead)) {
    return version;
  }
  version.major = ToInt32(cursor.Number());
  if (!cursor.SkipPast('.')) {
    return version;
  }
  version.minor = ToInt32(cursor.Number());
  if (!cursor.SkipPast('.')) {
    return version;
  }
  version.dotdot = ToInt32(cursor.Number());
  version.letter = cursor.Letter();
  return version;
}

// Three numbers: the first right at the start of |text| (or after |lead| when
// it is not 0), the others after the next |separator| each.
void ParseTriple(std::string_view text, char lead, char separator, int32_t& first, int32_t& second,
                 int32_t& third) {
  first = second = third = 0;
  Cursor cursor(text);
  if (lead != 0 && !cursor.SkipPast(lead)) {
    return;
  }
  first = ToInt32(cursor.Number());
  if (!cursor.SkipPast(separator)) {
    return;
  }
  second = ToInt32(cursor.Number());
  if (!cursor.SkipPast(separator)) {
    return;
  }
  third = ToInt32(cursor.Number());
}

// The value of a key line: after the first ":" and its blanks; empty when the
// line has no ":".
std::string_view KeyValue(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    return {};
  }
  return SkipBlanks(text.substr(colon + 1));
}

// A text value or comment ends at the first CR or LF, even one inside the
// line: a header edited on another system may carry a stray CR.
std::string_view UpToLineEnd(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// A name or digest inside an entry piece: leading blanks and quotes skipped,
// trailing blanks and then one trailing quote removed.
std::string_view QuotedValue(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && (IsBlank(text[start]) || text[start] == '"')) {
    ++start;
  }
  text = TrimRight(text.substr(start));
  if (!text.empty() && text.back() == '"') {
    text.remove_suffix(1);
  }
  return text;
}

template <typename Values>
auto TextField(Values& values, HeaderKey key) -> decltype(&values.owner) {
  switch (key) {
    case HeaderKey::kOwner:
      return &values.owner;
    case HeaderKey::kCopyright:
      return &values.copyright;
    case HeaderKey::kApplName:
      return &values.appl_name;
    case HeaderKey::kCommandLine:
      return &values.command_line;
    case HeaderKey::kDate:
      return &values.date;
    case HeaderKey::kReadmeFile:
      return &values.readme_file;
    case HeaderKey::kRegistryFile:
      return &values.registry_file;
    case HeaderKey::kDownloadSplash:
      return &values.download_splash;
    case HeaderKey::kLaunchSplash:
      return &values.launch_splash;
    case HeaderKey::kDownloadIcon:
      return &values.download_icon;
    case HeaderKey::kLaunchIcon:
      return &values.launch_icon;
    case HeaderKey::kCorruptIcon:
      return &values.corrupt_icon;
    case HeaderKey::kLaunchSplashDuration:
      return &values.launch_splash_duration;
    case HeaderKey::kInstallTo:
      return &values.install_to;
    case HeaderKey::kComment:
      return &values.comment;
    default:
      return nullptr;
  }
}

bool* FlagField(HeaderValues& values, HeaderKey key) {
  switch (key) {
    case HeaderKey::kDelete:
      return &values.delete_package;
    case HeaderKey::kCompanyIdentity:
      return &values.company_identity;
    case HeaderKey::kDownloadDetail:
      return &values.download_detail;
    case HeaderKey::kCombineDownloadLaunch:
      return &values.combine_download_launch;
    case HeaderKey::kUpdateOption:
      return &values.update_required;
    default:
      return nullptr;
  }
}

// Stores the value of a key line (|text| starts at the key).
void ReadKeyValue(const HeaderKeyInfo& info, std::string_view text, HeaderValues& values) {
  const std::string_view value = KeyValue(text);
  switch (info.kind) {
    case HeaderValueKind::kText:
      AssignCut(*TextField(values, info.key), UpToLineEnd(value), info.capacity);
      break;
    case HeaderValueKind::kVersion:
      (info.key == HeaderKey::kVersion ? values.version : values.min_version) =
          ParseVersion(text, ':');
      break;
    case HeaderValueKind::kDate:
      AssignCut(values.date, UpToLineEnd(value), info.capacity);
      ParseTriple(UpToLineEnd(value), 0, '/', values.month, values.day, values.year);
      break;
    case HeaderValueKind::kFlag:
      *FlagField(values, info.key) = EqualsNoCase(value, kYes);
      break;
    case HeaderValueKind::kUpdateOption:
      *FlagField(values, info.key) = EqualsNoCase(value, kRequired);
      break;
  }
  if (info.key == HeaderKey::kRegistryFile) {
    values.registry_file_line = true;
  }
}

// The key whose line |text| is, in the reader's test order; null for none.
const HeaderKeyInfo* MatchKey(std::string_view text) {
  for (HeaderKey key : kHeaderKeyReadOrder) {
    const HeaderKeyInfo& info = HeaderKeyOf(key);
    if (StartsWithNoCase(text, info.name)) {
      return &info;
    }
  }
  return nullptr;
}

void Feed(DigestContext* digest, std::string_view text) {
  DigestUpdate(digest, text.data(), text.size());
}

bool HasHeaderMagic(std::string_view line) {
  return StartsWithNoCase(line, kHeaderMagic);
}

// The lines of a header's bytes as a buffer of kMaxHeaderLine + 1 bytes takes
// them (see ReadHeaderLine), and whether a line so far started with the
// ApplName key, as the count pass notes it.
class LineSource {
 public:
  explicit LineSource(std::string_view bytes) : bytes_(bytes) {}

  bool Next(std::string_view& raw) {
    if (pos_ >= bytes_.size()) {
      return false;
    }
    const std::string_view rest = bytes_.substr(pos_, kMaxHeaderLine);
    const size_t feed = rest.find('\n');
    raw = feed == std::string_view::npos ? rest : rest.substr(0, feed + 1);
    pos_ += raw.size();
    if (!first_ && !after_appl_name_) {
      after_appl_name_ = StartsWithNoCase(SkipBlanks(raw), HeaderKeyOf(HeaderKey::kApplName).name);
    }
    first_ = false;
    return true;
  }

  bool after_appl_name() const { return after_appl_name_; }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
  bool first_ = true;
  bool after_appl_name_ = false;
};

// Reads the physical lines of a file entry whose first line is |first|,
// feeding each to the digest, and returns the joined text (cut at its
// capacity; later lines are still read and fed). |lines| (may be null)
// receives the lines after the first as the digest takes them.
std::string GatherEntryText(LineSource& source, std::string_view first_text, DigestContext* digest,
                            std::vector<std::string>* lines) {
  std::string joined;
  std::string_view raw;
  const size_t colon = first_text.find(':');
  std::string_view part =
      colon == std::string_view::npos ? std::string_view() : first_text.substr(colon + 1);
  for (;;) {
    part = SkipBlanks(part);
    const bool continued = !part.empty() && IsPathSeparator(part.back());
    if (continued) {
      part.remove_suffix(1);  // the next part goes where the continuation mark was
    }
    joined.append(part.substr(0, kMaxEntryText - std::min(joined.size(), kMaxEntryText)));
    if (!continued || !source.Next(raw)) {
      return joined;
    }
    const std::string_view line = TrimRight(raw);
    Feed(digest, line);
    if (lines != nullptr) {
      lines->emplace_back(line);
    }
    part = line;
  }
}

// Whether a header of |bytes| may have |count| entries: each costs a record
// of a few hundred bytes, so beyond a first few, every entry must come with
// enough header text to keep the record within about ten times the header.
bool EntriesFitTheHeader(int count, int64_t bytes) {
  return count <= kMaxHeaderEntries &&
         (count <= kHeaderEntriesWithoutBudget || count <= bytes / kHeaderBytesPerEntry);
}

// Parses the joined text of a file entry into the fields of |entry|, a
// HeaderEntry or a client's FileEntry; fields the text does not give stay.
template <typename Entry>
void ParseEntryText(std::string_view text, Entry& entry) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(kCommentMark, start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view piece = SkipBlanks(text.substr(start, end - start));
    start = end + 1;
    if (piece.empty()) {
      continue;
    }
    if (piece.front() == '"') {
      AssignCut(entry.name, QuotedValue(piece.substr(1)), kMaxEntryName);
    } else if (StartsWithNoCase(piece, kTimeKey)) {
      ParseTriple(piece, '=', ':', entry.hours, entry.minutes, entry.seconds);
    } else if (StartsWithNoCase(piece, kDateKey)) {
      ParseTriple(piece, '=', '/', entry.month, entry.day, entry.year);
    } else if (StartsWithNoCase(piece, kVersionKey)) {
      entry.version = ParseVersion(piece, '=');
    } else if (StartsWithNoCase(piece, kLengthKey) || StartsWithNoCase(piece, kSizeKey)) {
      Cursor cursor(piece);
      const int64_t value = cursor.SkipPast('=') ? cursor.Number() : 0;
      (StartsWithNoCase(piece, kLengthKey) ? entry.length : entry.size) = value;
    } else if (StartsWithNoCase(piece, kDigestKey)) {
      const size_t equals = piece.find('=');
      AssignCut(entry.digest,
                equals == std::string_view::npos ? std::string_view()
                                                 : QuotedValue(piece.substr(equals + 1)),
                kMaxEntryDigest);
    }
  }
  entry.neutral_name = NeutralPath(entry.name);
}

// Keeps a parse's entries in the header value itself.
class KeepingSink : public detail::HeaderEntrySink {
 public:
  explicit KeepingSink(std::vector<HeaderEntry>& entries) : entries_(entries) {}
  bool Prepare(int32_t count) override {
    entries_.reserve(static_cast<size_t>(count));
    return true;
  }
  void Take(HeaderEntry&& entry) override { entries_.push_back(std::move(entry)); }

 private:
  std::vector<HeaderEntry>& entries_;
};

Error ParseError(int code) {
  return Error{code,
               code == kHeaderNoMemory ? "out of memory, or more entries than its size allows"
                                       : "not a package header (no magic line or no entries)",
               {}};
}

// The parse: the count pass, then every line read into the values, the
// entries handed to |sink| and (when |lines| is given) each line kept in
// its place, and the header digest checked.
Result<ParsedHeader> Parse(std::string_view bytes, detail::HeaderEntrySink& sink,
                           std::vector<HeaderLine>* lines) {
  ParsedHeader header;
  HeaderValues& values = header.values;
  const int count = CountHeaderEntryLines(bytes, &values.format_version);
  if (count == 0) {
    return ParseError(kHeaderFailed);
  }
  if (!EntriesFitTheHeader(count, static_cast<int64_t>(bytes.size())) || !sink.Prepare(count)) {
    return ParseError(kHeaderNoMemory);
  }
  DigestPtr digest = DigestNew();
  if (!digest) {
    return ParseError(kHeaderNoMemory);
  }
  LineSource source(bytes);
  HeaderLine item;
  int32_t taken = 0;
  bool first_line = true;
  std::string_view raw;
  while (source.Next(raw)) {
    const std::string_view line = TrimRight(raw);
    const std::string_view text = SkipBlanks(line);
    item.role = HeaderLineRole::kOther;
    item.key = nullptr;
    item.entry = -1;
    item.counted = false;
    item.text.clear();
    std::vector<std::string>* continued = lines != nullptr ? &item.text : nullptr;
    if (continued != nullptr) {
      item.text.emplace_back(line);
    }
    if (text.empty()) {
      item.role = HeaderLineRole::kBlank;
    } else if (HasHeaderMagic(line)) {
      // Only the first line gives the version; a later one is only digested.
      item.role = first_line ? HeaderLineRole::kMagic : HeaderLineRole::kOther;
      Feed(digest.get(), line);
    } else if (const HeaderKeyInfo* key = MatchKey(text)) {
      item.role = HeaderLineRole::kKey;
      item.key = key;
      ReadKeyValue(*key, text, values);
      if (key->digested) {
        Feed(digest.get(), line);
      }
    } else if (text.front() == kCommentMark) {
      item.role = HeaderLineRole::kComment;
      item.counted = source.after_appl_name();
      // Comments ahead of the application name belong to the comment block.
      if (!values.appl_name.empty() && taken < count) {
        item.entry = taken++;
        HeaderEntry entry;
        entry.comment = true;
        AssignCut(entry.neutral_name, UpToLineEnd(text.substr(1)), kMaxEntryName);
        sink.Take(std::move(entry));
      }
    } else if (StartsWithNoCase(text, kFileKey)) {
      item.role = HeaderLineRole::kEntry;
      Feed(digest.get(), line);
      const std::string joined = GatherEntryText(source, text, digest.get(), continued);
      // An entry the count pass did not see is read (and digested) but not kept.
      if (taken < count) {
        item.entry = taken++;
        HeaderEntry entry;
        ParseEntryText(joined, entry);
        sink.Take(std::move(entry));
      }
    } else if (StartsWithNoCase(text, kDigestKey)) {
      item.role = HeaderLineRole::kTrailer;
      AssignCut(values.header_digest, KeyValue(text), kMaxHeaderDigest);
    } else {
      Feed(digest.get(), line);
    }
    first_line = false;
    if (lines != nullptr) {
      lines->push_back(std::move(item));
      item = HeaderLine{};
    }
  }
  if (!values.install_to.empty()) {
    AssignCut(values.neutral_install_to, NeutralPath(values.install_to), kMaxNeutralInstallTo);
  }
  char computed[kDigestCompareLength] = {};
  if (SecureDigest(digest.get(), computed, sizeof computed, values.date.c_str()) != kDigestOk) {
    return ParseError(kHeaderNoMemory);
  }
  header.digest_matches = values.header_digest == std::string_view(computed, kDigestTextLength);
  return header;
}

}  // namespace

int CountHeaderEntryLines(std::string_view bytes, FormatVersion* version) {
  LineSource source(bytes);
  std::string_view raw;
  if (!source.Next(raw) || !HasHeaderMagic(raw)) {
    return 0;
  }
  if (version != nullptr) {
    *version = FormatVersion{};
    Cursor magic(raw.substr(kHeaderMagic.size()));
    version->major = ToInt32(magic.Number());
    if (magic.SkipPast('.')) {
      version->minor = ToInt32(magic.Number());
    }
  }
  const HeaderKeyInfo& appl_name = HeaderKeyOf(HeaderKey::kApplName);
  bool after_appl_name = false;
  int count = 0;
  while (source.Next(raw)) {
    const std::string_view text = SkipBlanks(raw);
    if (!after_appl_name && StartsWithNoCase(text, appl_name.name)) {
      after_appl_name = true;
      continue;
    }
    const bool entry_line = text.substr(0, kFileLineStart.size()) == kFileLineStart ||
                            (after_appl_name && !text.empty() && text.front() == kCommentMark);
    if (entry_line && count < std::numeric_limits<int32_t>::max()) {
      ++count;
    }
  }
  return count;
}

Result<ParsedHeader> ParseHeader(std::string_view bytes) {
  try {
    std::vector<HeaderEntry> entries;
    KeepingSink sink(entries);
    std::vector<HeaderLine> lines;
    Result<ParsedHeader> parsed = Parse(bytes, sink, &lines);
    if (!parsed) {
      return parsed;
    }
    ParsedHeader header = std::move(parsed).value();
    header.entries = std::move(entries);
    header.lines = std::move(lines);
    return header;
  } catch (const std::bad_alloc&) {
    return ParseError(kHeaderNoMemory);
  }
}

namespace detail {

Result<ParsedHeader> ParseHeaderInto(std::string_view bytes, HeaderEntrySink& sink) {
  return Parse(bytes, sink, nullptr);
}

}  // namespace detail

int ParseFileEntry(std::string_view text, FileEntry* entry) {
  if (entry == nullptr) {
    return kHeaderFailed;
  }
  ParseEntryText(text, *entry);
  return kHeaderOk;
}

const std::string& HeaderTextValue(const HeaderValues& values, HeaderKey key) {
  static const std::string kEmpty;
  const std::string* field = TextField(values, key);
  return field == nullptr ? kEmpty : *field;
}

}  // namespace qx
