// The progress line of qxweb's long commands, laid out for the terminal's
// width. Command-line programs.
#include "tools/qxweb/progress_line.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>

namespace qxweb_tool {

namespace {

volatile std::sig_atomic_t resized = 0;

void OnResize(int) {
  resized = 1;
}

// The terminal's columns, or |fallback| when it does not say.
int TerminalWidth(int fallback) {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return fallback;
}

// Columns of the code point that |lead| begins: 2 for the wide East Asian
// ranges and emoji, 0 for a continuation byte, else 1.
int Columns(const unsigned char* bytes, size_t available) {
  const unsigned char lead = bytes[0];
  if ((lead & 0xC0) == 0x80) {
    return 0;
  }
  char32_t code = lead;
  size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (length > available) {
    return 1;
  }
  if (length > 1) {
    code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
      code = (code << 6) | (bytes[i] & 0x3F);
    }
  }
  const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                    (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                    (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                    (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x1F300 && code <= 0x1FAFF) ||
                    (code >= 0x20000 && code <= 0x3FFFD);
  return wide ? 2 : 1;
}

// The longest beginning of |text| in at most |columns| columns.
std::string_view Head(std::string_view text, int columns) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  int used = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const int width = Columns(bytes + i, text.size() - i);
    if (used + width > columns) {
      return text.substr(0, i);
    }
    used += width;
  }
  return text;
}

// The longest end of |text| in at most |columns| columns.
std::string_view Tail(std::string_view text, int columns) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  int used = 0;
  size_t start = text.size();
  for (size_t i = text.size(); i-- > 0;) {
    const int width = Columns(bytes + i, text.size() - i);
    if (width == 0) {
      continue;
    }
    if (used + width > columns) {
      break;
    }
    used += width;
    start = i;
  }
  return text.substr(start);
}

// |text| in at most |columns| columns, its middle replaced by "..." when
// it is longer: the beginning of a path and its file name both stay.
std::string ShortenInMiddle(std::string_view text, int columns) {
  if (TextColumns(text) <= columns) {
    return std::string(text);
  }
  const int head = (columns - 3) / 3;
  const std::string_view start = Head(text, head);
  const std::string_view end = Tail(text, columns - 3 - TextColumns(start));
  return std::string(start) + "..." + std::string(end);
}

// "0:17", "1:02:03".
std::string Duration(int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
  }
  return text;
}

// "4.2 of 210.3 MB": both amounts in the unit that suits the total.
std::string BytesOfTotal(int64_t done, int64_t total) {
  constexpr double kKilo = 1024.0;
  const auto [divisor, unit] = total >= 10 * kKilo * kKilo * kKilo
                                   ? std::pair{kKilo * kKilo * kKilo, "GB"}
                               : total >= kKilo * kKilo ? std::pair{kKilo * kKilo, "MB"}
                                                        : std::pair{kKilo, "kB"};
  char text[64];
  std::snprintf(text, sizeof text, "%.1f of %.1f %s", static_cast<double>(done) / divisor,
                static_cast<double>(total) / divisor, unit);
  return text;
}

// |bytes| as "12.3 MB".
std::string Megabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

std::string Amount(int64_t bytes) {
  if (bytes < 1024) {
    return std::to_string(bytes) + " bytes";
  }
  if (bytes < 1024 * 1024) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1024.0);
    return text;
  }
  return Megabytes(bytes);
}

int TextColumns(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  int columns = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    columns += Columns(bytes + i, text.size() - i);
  }
  return columns;
}

std::string ProgressText(std::string_view verb, const ProgressFigures& figures,
                         std::string_view name, int width) {
  const int room = width - 1;
  std::string line = std::string(verb) + " " + std::to_string(figures.files_done) + " of " +
                     std::to_string(figures.files_total) + " files, " +
                     BytesOfTotal(figures.bytes_done, figures.bytes_total);
  const auto percent =
      static_cast<int>(figures.bytes_total > 0 ? 100.0 * static_cast<double>(figures.bytes_done) /
                                                     static_cast<double>(figures.bytes_total)
                                               : 100.0);
  line += " (" + std::to_string(percent) + "%)";

  // The rate once it means something, and the time left that it gives.
  std::string rate;
  std::string left;
  if (figures.seconds >= 1 && figures.bytes_done > 0) {
    const double per_second = static_cast<double>(figures.bytes_done) / figures.seconds;
    rate = ", " + Amount(static_cast<int64_t>(per_second)) + "/s";
    const double remaining = static_cast<double>(figures.bytes_total - figures.bytes_done);
    // At most 999 hours: a rate near nothing says no more.
    const double seconds = std::min(remaining / per_second + 0.5, 999 * 3600.0);
    left = ", " + Duration(static_cast<int64_t>(seconds)) + " left";
  }

  const std::string full = line + rate + left;
  constexpr int kShortestName = 12;
  if (!name.empty() && TextColumns(full) + 2 + kShortestName <= room) {
    return full + ": " + ShortenInMiddle(name, room - TextColumns(full) - 2);
  }
  for (const std::string& candidate : {full, line + left, line}) {
    if (TextColumns(candidate) <= room) {
      return candidate;
    }
  }
  return std::string(Head(line, room > 0 ? room : 0));
}

ProgressLine::ProgressLine(std::string_view verb)
    : verb_(verb), terminal_(isatty(STDERR_FILENO) != 0) {
  if (terminal_) {
    width_ = TerminalWidth(width_);
    struct sigaction action {};
    action.sa_handler = OnResize;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, &previous_winch_);
  }
}

ProgressLine::~ProgressLine() {
  Clear();
  if (terminal_) {
    sigaction(SIGWINCH, &previous_winch_, nullptr);
  }
}

void ProgressLine::Show(ProgressFigures figures, std::string_view name) {
  if (!terminal_) {
    return;
  }
  const Clock::time_point now = Clock::now();
  if (resized != 0) {
    resized = 0;
    width_ = TerminalWidth(width_);
  } else if (open_ && now - drawn_ < std::chrono::milliseconds(50)) {
    return;
  }
  if (!started_) {
    start_ = now;
    started_ = true;
  }
  drawn_ = now;
  figures.seconds = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "\r%s\x1b[K", ProgressText(verb_, figures, name, width_).c_str());
  std::fflush(stderr);
  open_ = true;
}

void ProgressLine::Clear() {
  if (open_) {
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    open_ = false;
  }
}

}  // namespace qxweb_tool
