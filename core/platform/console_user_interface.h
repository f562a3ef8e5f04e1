#pragma once

// The console user interface: message boxes printed as lines to a stream,
// questions answered from defaults the caller sets or asked on a terminal.
// Platform layer.

#include <cstdio>

#include "core/platform/user_interface.h"

namespace qx {

// Prints every box to a stream (stderr by default) as "caption: text" and
// answers questions from defaults that the caller sets, for example from a
// command-line flag. Beeps are silent.
class QXWEBCORE_EXPORT ConsoleUserInterface : public UserInterface {
 public:
  explicit ConsoleUserInterface(std::FILE* stream = stderr) : stream_(stream) {}

  // Answer given to OK/Cancel questions (kOk or kCancel).
  void SetOkCancelAnswer(BoxAnswer answer) { ok_cancel_answer_ = answer; }
  // Answer given to Yes/No and Yes/No/Cancel questions (kYes, kNo or kCancel).
  void SetYesNoAnswer(BoxAnswer answer) { yes_no_answer_ = answer; }
  // Asks Yes/No questions on |input| instead (a terminal): "y" or "yes"
  // answers Yes, anything else and the end of input answer No. Null goes
  // back to the preset answer.
  void SetPromptInput(std::FILE* input) { prompt_input_ = input; }

  void Beep(BeepKind kind) override;
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request) override;

 private:
  std::FILE* stream_;
  BoxAnswer ok_cancel_answer_ = BoxAnswer::kOk;
  BoxAnswer yes_no_answer_ = BoxAnswer::kYes;
  std::FILE* prompt_input_ = nullptr;
};

}  // namespace qx
