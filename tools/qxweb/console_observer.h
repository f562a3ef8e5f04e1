#pragma once

// The console as the observer of qxweb's seals and scans: message boxes on
// standard error, questions answered from the flags, and the seal's progress
// as one line on a terminal (a line per file with --verbose otherwise).

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/platform/console_user_interface.h"
#include "core/platform/result.h"
#include "sealer/project/seal_request.h"
#include "tools/qxweb/progress_line.h"

namespace qxweb_tool {

// Set by Ctrl-C while an InterruptAsCancel is alive.
extern volatile std::sig_atomic_t cancel_requested;

// Ctrl-C asks the running seal to stop at the next file, as the window's
// Cancel does; a second Ctrl-C ends the program at once. Interrupted system
// calls restart, so the file being stored is finished first.
class InterruptAsCancel {
 public:
  InterruptAsCancel();
  ~InterruptAsCancel();
  InterruptAsCancel(const InterruptAsCancel&) = delete;
  InterruptAsCancel& operator=(const InterruptAsCancel&) = delete;

 private:
  struct sigaction previous_ {};
};

class ConsoleObserver : public qx::SealObserver, public qx::UserInterface {
 public:
  // |create_put_to| answers whether a missing put-to directory is created.
  ConsoleObserver(bool verbose, bool create_put_to);

  bool Progress(std::string_view text, const qx::SealProgress* progress) override;
  bool Ask(qx::SealQuestion question, std::string_view text) override;
  void Notice(const qx::Error& notice) override;

  // Shows a seal's or a scan's error as the sealer's box would say it.
  void ShowError(const qx::Error& error);

  // The run is over: the progress line goes.
  void EndLine() { line_.Clear(); }

  void Beep(qx::BeepKind) override {}
  qx::BoxAnswer ShowMessageBox(const qx::MessageBoxRequest& request) override;

 private:
  void Show(const qx::SealProgress& progress);

  qx::ConsoleUserInterface console_{stderr};
  bool verbose_;
  ProgressLine line_{"Sealing"};
};

}  // namespace qxweb_tool
