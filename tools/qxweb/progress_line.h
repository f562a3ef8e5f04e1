#pragma once

// The progress of a long command (seal, verify, unpack, install, update) as
// one line on a terminal: files and bytes done of the total, the percentage,
// the rate and the time left, and the file at hand. The line is cut to the
// terminal's width so that it never wraps. Command-line programs.

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qxweb_tool {

// A byte count as people read it: "812 bytes", "4.2 kB", "151.0 MB".
std::string Amount(int64_t bytes);

// What a long command has done so far.
struct ProgressFigures {
  int64_t files_done = 0;
  int64_t files_total = 0;
  int64_t bytes_done = 0;
  int64_t bytes_total = 0;
  double seconds = 0;  // since the work began
};

// The line for |figures| in at most |width| - 1 columns (the last column is
// left free: a character there would move some terminals to the next line),
// e.g. "Sealing 12 of 340 files, 45.2 of 210.3 MB (21%), 9.8 MB/s, 0:17 left:
// bin/app". |verb| leads it; |name| (the file at hand, may be empty) closes it,
// shortened in the middle when the line is too long. Where even the figures
// do not fit, the name goes first, then the rate and the time left, and what
// is left is cut.
std::string ProgressText(std::string_view verb, const ProgressFigures& figures,
                         std::string_view name, int width);

// Columns that |text| (UTF-8) takes on a terminal.
int TextColumns(std::string_view text);

// The progress line on standard error, drawn only when that is a terminal.
// The terminal's width is asked for at the start and again after the window
// was resized (SIGWINCH). Redrawn at most every 50 ms.
class ProgressLine {
 public:
  explicit ProgressLine(std::string_view verb);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Whether the line is drawn at all.
  bool terminal() const { return terminal_; }

  // Redraws the line; the seconds of |figures| are filled in here.
  void Show(ProgressFigures figures, std::string_view name = {});

  // Takes the line off the screen, before other output or at the end.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;

  std::string verb_;
  bool terminal_;
  bool open_ = false;
  bool started_ = false;
  int width_ = 80;
  Clock::time_point start_;  // of the first Show
  Clock::time_point drawn_;
  struct sigaction previous_winch_ {};
};

}  // namespace qxweb_tool
