// The room an entry name has in the package header, worked out from the
// entry lines the sealer writes and the way the reader joins them. Sealer
// engine, without a window.
#include "sealer/project/entry_fit.h"

#include <algorithm>

#include "core/digest/secure_digest.h"
#include "core/format/header_lines.h"
#include "core/format/header_value.h"
#include "core/fsutil/path_text.h"

namespace qx {

namespace {

// The size of the text the reader joins from an entry's lines: each line
// without its trailing blanks, the first without its key, each without
// leading blanks and without the continuation mark at its end.
size_t JoinedEntrySize(const std::array<std::string, 3>& lines) {
  size_t joined = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view part = DigestedText(lines[i]);
    if (i == 0) {
      part = part.substr(part.find(':') + 1);
    }
    part = SkipBlanks(part);
    if (!part.empty() && IsPathSeparator(part.back())) {
      part.remove_suffix(1);
    }
    joined += part.size();
  }
  return joined;
}

}  // namespace

bool EntryFitsReader(const std::array<std::string, 3>& lines) {
  for (const std::string& line : lines) {
    if (line.size() > kMaxHeaderLine) {
      return false;
    }
  }
  return JoinedEntrySize(lines) <= kMaxEntryText;
}

int64_t WorstStoredLength(int64_t size) {
  return size + size / 1000 + 64;
}

size_t LongestEntryName(std::string_view version_text, int64_t length, int64_t size) {
  // The name stands in the first line only, between quotes, so each byte of
  // it adds one to that line and one to the joined text.
  const std::array<std::string, 3> lines =
      SealerEntryLines("", "00:00:00", "01/01/1980", version_text, length, size,
                       std::string(kDigestTextLength, '0'));
  const size_t joined = JoinedEntrySize(lines);
  if (lines[0].size() > kMaxHeaderLine || lines[1].size() > kMaxHeaderLine ||
      lines[2].size() > kMaxHeaderLine || joined > kMaxEntryText) {
    return 0;
  }
  return std::min(kMaxHeaderLine - lines[0].size(), kMaxEntryText - joined);
}

size_t LongestListEntryName() {
  static const size_t longest = LongestEntryName(kListEntryVersion);
  return longest;
}

std::string EntryNameTooLong(std::string_view name, size_t longest) {
  return "File name " + std::string(name) + " is too long for the package header (at most " +
         std::to_string(longest) + " bytes)";
}

}  // namespace qx
