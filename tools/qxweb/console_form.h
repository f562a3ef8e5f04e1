#pragma once

// The console's form for qxweb's project commands: the engine's form held in
// memory, message boxes on standard error, and the seal's progress as one
// line on a terminal (a line per file with --verbose otherwise).

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/platform/console_user_interface.h"
#include "sealer/project/memory_form_view.h"
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

class ConsoleForm : public qx::MemoryFormView, public qx::UserInterface {
 public:
  ConsoleForm(bool verbose, bool create_put_to);

  bool ProgressStep(std::string_view text, const qx::SealProgress* progress) override;

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
