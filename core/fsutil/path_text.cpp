#include "core/fsutil/path_text.h"

#include <cstdio>
#include <ctime>

#include "core/format/package_paths.h"

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

}  // namespace qx
