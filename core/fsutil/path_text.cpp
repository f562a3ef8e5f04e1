// Path texts: separator conversion, neutral names, the safe-name rule, native
// joins, drive roots and temporary names. File-system utility layer.
#include "core/fsutil/path_text.h"

#include <cstdio>
#include <ctime>
#include <iterator>

namespace qx {

namespace {

// Milliseconds since an arbitrary start that never jumps with the clock.
long TickCount() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long>(now.tv_sec) * 1000L + static_cast<long>(now.tv_nsec / 1000000L);
}

}  // namespace

std::string NativeSeparators(std::string_view path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '\\') {
      c = '/';
    }
  }
  return native;
}

void StripTrailingBackslash(std::string& path) {
  if (!path.empty() && IsPathSeparator(path.back())) {
    path.pop_back();
  }
}

std::string GetDriveRoot(std::string_view path) {
  if (path.size() < 2 || path[1] != ':') {
    return {};
  }
  if (path.size() == 2) {
    return std::string(path) + "\\";
  }
  const auto separator = path.find_first_of("\\/");
  return std::string(
      path.substr(0, separator == std::string_view::npos ? path.size() : separator + 1));
}

std::string PrintableText(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (IsControlCharacter(c)) {
      c = '?';
    }
  }
  return shown;
}

std::string NeutralPath(std::string_view path) {
  std::string neutral(path);
  for (char& c : neutral) {
    if (IsPathSeparator(c)) {
      c = kNeutralSeparator;
    }
  }
  return neutral;
}

std::string& AppendNeutralPath(std::string_view separator, std::string& destination,
                               std::string_view neutral) {
  if (separator.empty()) {
    return destination;
  }
  for (char c : neutral) {
    destination += c == kNeutralSeparator ? separator.front() : c;
  }
  return destination;
}

NameFault CheckRelativeName(std::string_view name) {
  if (name.empty()) {
    return NameFault::kEmpty;
  }
  if (IsPathSeparator(name.front())) {
    return NameFault::kAbsolute;
  }
  if (name.size() >= 2 && name[1] == ':') {
    return NameFault::kDrive;
  }
  for (char c : name) {
    if (IsControlCharacter(c)) {
      return NameFault::kControlCharacter;
    }
    if (c == kNeutralSeparator) {
      return NameFault::kNeutralSeparator;
    }
    if (c == '"') {
      return NameFault::kQuote;
    }
    if (c == ';') {
      return NameFault::kSemicolon;
    }
  }
  std::string_view::size_type start = 0;
  while (start <= name.size()) {
    std::string_view::size_type end = start;
    while (end < name.size() && !IsPathSeparator(name[end])) {
      ++end;
    }
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") {
      return NameFault::kDotComponent;
    }
    if (part.front() == ' ' || part.back() == ' ') {
      return NameFault::kEdgeBlank;
    }
    if (part.size() > kMaxNameComponent) {
      return NameFault::kLongComponent;
    }
    start = end + 1;
  }
  return NameFault::kNone;
}

const char* NameFaultText(NameFault fault) {
  switch (fault) {
    case NameFault::kNone:
      return "a safe name";
    case NameFault::kEmpty:
      return "an empty name";
    case NameFault::kAbsolute:
      return "an absolute path";
    case NameFault::kDrive:
      return "a drive form";
    case NameFault::kDotComponent:
      return "an empty, \".\" or \"..\" component";
    case NameFault::kControlCharacter:
      return "a control character";
    case NameFault::kNeutralSeparator:
      return "a \"|\"";
    case NameFault::kEdgeBlank:
      return "a blank at the start or end of a name";
    case NameFault::kQuote:
      return "a double quote";
    case NameFault::kSemicolon:
      return "a \";\"";
    case NameFault::kLongComponent:
      return "a name longer than 255 characters";
  }
  return "an unsafe name";
}

bool IsSafeRelativeName(std::string_view name) {
  return CheckRelativeName(name) == NameFault::kNone;
}

std::string JoinNativePath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') {
    path += '/';
  }
  AppendNeutralPath("/", path, NeutralPath(name));
  return path;
}

std::string MakeTempName() {
  static constexpr char kWeekdayLetters[] = "SMTWTFS";
  const time_t now = ::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char ticks[32];
  const int length = std::snprintf(ticks, sizeof ticks, "%07ld", TickCount());
  std::string name(1, kWeekdayLetters[utc.tm_wday % 7]);
  name.append(ticks + (length > 7 ? length - 7 : 0));
  name += ".WEB";
  return name;
}

std::string ByteSizeText(int64_t bytes) {
  if (bytes < 1024) {
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  }
  constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
  const auto tenths_of = [bytes](int64_t divisor) {
    return bytes / divisor * 10 + ((bytes % divisor) * 10 + divisor / 2) / divisor;
  };
  int64_t divisor = 1024;
  size_t unit = 0;
  int64_t tenths = tenths_of(divisor);
  // 1023.96 kB is rounded to 1.0 MB, not to 1024.0 kB.
  while (tenths >= 10240 && unit + 1 < std::size(kUnits)) {
    divisor *= 1024;
    ++unit;
    tenths = tenths_of(divisor);
  }
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + kUnits[unit];
}

}  // namespace qx
