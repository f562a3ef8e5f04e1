// Header lines built, read and written: version, date and time texts; key,
// entry, comment and trailer lines; which lines feed the digest. Format layer.
#include "core/format/header_lines.h"

#include <cinttypes>
#include <cstdio>

namespace qx {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kContinuation = " \\";
constexpr std::string_view kEntryIndent = "   ";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Pair(std::string_view key, std::string_view value) {
  std::string text(key);
  text += " = ";
  text += value;
  return text;
}

}  // namespace

std::string FormatVersionText(const VersionNumber& version) {
  char text[48];
  int n = std::snprintf(text, sizeof text, "%02d.%02d.%02d", version.major, version.minor,
                        version.dotdot);
  std::string result(text, static_cast<size_t>(n));
  if (version.letter != 0) {
    result += version.letter;
  }
  return result;
}

std::string FormatDateText(int month, int day, int year) {
  char text[48];
  int n = std::snprintf(text, sizeof text, "%02d/%02d/%04d", month, day, year);
  return std::string(text, static_cast<size_t>(n));
}

std::string FormatTimeText(int hours, int minutes, int seconds) {
  char text[48];
  int n = std::snprintf(text, sizeof text, "%02d:%02d:%02d", hours, minutes, seconds);
  return std::string(text, static_cast<size_t>(n));
}

std::string SealerMagicLine() {
  std::string line(kHeaderMagic);
  line += kSealerFormatVersion;
  return line;
}

std::string LibraryMagicLine(int major, int minor) {
  char text[32];
  int n = std::snprintf(text, sizeof text, "%d.%d", major, minor);
  std::string line(kHeaderMagic);
  line.append(text, static_cast<size_t>(n));
  return line;
}

std::array<std::string_view, 6> CommentBlock(HeaderWriter writer) {
  return {";",
          writer == HeaderWriter::kSealer ? "; This package was created by Tarnwick Web Lite Sealer"
                                          : "; This package was created by Tarnwick Web Sealer",
          ";",
          "; Modifying these contents directly will corrupt the",
          "; package making it impossible to download or run.",
          ";"};
}

std::string KeyLine(std::string_view key, std::string_view value, HeaderWriter writer) {
  std::string line(key);
  line += ':';
  if (!value.empty() || writer == HeaderWriter::kLibrary) {
    line += ' ';
  }
  line += value;
  return line;
}

std::array<std::string, 3> SealerEntryLines(std::string_view name, std::string_view time_text,
                                            std::string_view date_text,
                                            std::string_view version_text, int64_t length,
                                            int64_t size, std::string_view digest) {
  std::array<std::string, 3> lines;
  lines[0] = std::string(kFileKey) + ": \"" + std::string(name) + "\"; " +
             Pair(kTimeKey, time_text) + "; " + Pair(kDateKey, date_text) + ";" +
             std::string(kContinuation);
  lines[1] = std::string(kEntryIndent) + Pair(kVersionKey, version_text) + "; " +
             Pair(kLengthKey, std::to_string(length)) + "; " +
             Pair(kSizeKey, std::to_string(size)) + ";" + std::string(kContinuation);
  lines[2] = std::string(kEntryIndent) + Pair(kDigestKey, digest);
  return lines;
}

std::array<std::string, 3> LibraryEntryLines(const EntryFields& entry) {
  return SealerEntryLines(entry.name, FormatTimeText(entry.hours, entry.minutes, entry.seconds),
                          FormatDateText(entry.month, entry.day, entry.year),
                          FormatVersionText(entry.version), entry.length, entry.size, entry.digest);
}

std::string CommentLine(std::string_view text) {
  std::string line(1, kCommentMark);
  line += text;
  return line;
}

std::string TrailerLine(std::string_view digest) {
  std::string line(kDigestKey);
  line += ": ";
  line += digest;
  return line;
}

std::string_view DigestedText(std::string_view line) {
  while (!line.empty() && IsBlank(line.back())) {
    line.remove_suffix(1);
  }
  return line;
}

bool ReadHeaderLine(std::FILE* file, std::string& line) {
  line.clear();
  if (file == nullptr) {
    return false;
  }
  // The caller's stream, read by one thread: no lock for each character.
  char text[kMaxHeaderLine];
  size_t length = 0;
  while (length < kMaxHeaderLine) {
    const int c = getc_unlocked(file);
    if (c == EOF) {
      break;
    }
    text[length++] = static_cast<char>(c);
    if (c == '\n') {
      break;
    }
  }
  line.assign(text, length);
  return length > 0;
}

std::string_view SkipBlanks(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) {
    ++start;
  }
  return text.substr(start);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) {
      return false;
    }
  }
  return true;
}

bool IsSignificantLine(std::string_view line) {
  line = DigestedText(line);
  std::string_view text = SkipBlanks(line);
  if (text.empty() || text.front() == kCommentMark) {
    return false;
  }
  return !StartsWithNoCase(text, HeaderKeyOf(HeaderKey::kCommandLine).name) &&
         !StartsWithNoCase(text, kDigestKey);
}

void HeaderLineWriter::WriteLine(std::string_view line, bool digested) {
  if (digested && digest_ != nullptr) {
    std::string_view text = DigestedText(line);
    DigestUpdate(digest_, text.data(), text.size());
  }
  if (!ok_ || file_ == nullptr) {
    ok_ = false;
    return;
  }
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() ||
      std::fwrite(kLineEnd.data(), 1, kLineEnd.size(), file_) != kLineEnd.size()) {
    ok_ = false;
  }
}

void HeaderLineWriter::WriteKeyLine(HeaderKey key, std::string_view value, HeaderWriter writer) {
  const HeaderKeyInfo& info = HeaderKeyOf(key);
  WriteLine(KeyLine(info.name, value, writer), info.digested);
}

void HeaderLineWriter::WriteCommentBlock(HeaderWriter writer) {
  for (std::string_view line : CommentBlock(writer)) {
    WriteLine(line, false);
  }
}

void HeaderLineWriter::WriteEntryLines(const std::array<std::string, 3>& lines) {
  for (const std::string& line : lines) {
    WriteLine(line, true);
  }
}

}  // namespace qx
