#pragma once

// The sealer's message boxes: error, information and question boxes with
// their caption and beep; a seal's or a scan's errors shown over the form,
// and the form as the observer of a run. Sealer engine, without a window.

#include <string>
#include <string_view>
#include <vector>

#include "core/platform/result.h"

#include "core/platform/user_interface.h"
#include "sealer/project/form_view.h"
#include "sealer/project/seal_boxes.h"
#include "sealer/project/seal_request.h"

namespace qx {

// The error of a failed seal or scan: shown as ErrorBox shows its text.
Error SealFailure(std::string text, std::string path = {});

// Beep, then a stop box with an OK button and no owner.
void ErrorBox(std::string_view text);
// Beep, then an information box with an OK button over |owner|.
void InfoBox(WindowHandle owner, std::string_view text);
// Beep, then the focus to |field|, which must not be left empty; false, for
// the caller to return.
bool RefuseEmptyField(FormView& view, FormControl field);
// Beep, then a question box over |owner|; the button chosen.
BoxAnswer AskBox(WindowHandle owner, std::string_view text, BoxButtons buttons,
                 std::string_view caption = kSealerCaption);

// Shows |error| over the form as the engine's boxes always have: a stop box,
// an information box, or only a beep, moving the focus to the field it
// concerns where it names one. Cancel and a declined question show nothing.
void ShowSealError(FormView& view, const Error& error);

// The lines of |list|, in order.
std::vector<std::string> ListLines(const ListBox& list);

// Shows a failed |result|'s error over the form; whether it succeeded.
bool Shown(FormView& view, const Result<void>& result);

// The form as a run's observer: its progress step, its question boxes, and
// notices in boxes.
class FormObserver : public SealObserver {
 public:
  explicit FormObserver(FormView& view) : view_(view) {}

  bool Progress(std::string_view text, const SealProgress* progress) override;
  bool Ask(SealQuestion question, std::string_view text) override;
  void Notice(const Error& error) override;

 private:
  FormView& view_;
};

}  // namespace qx
