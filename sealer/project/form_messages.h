#pragma once

// A seal's or a scan's errors shown over the form, and the form as the
// observer of a run. Sealer engine, for a form.

#include <string_view>

#include "core/platform/result.h"
#include "sealer/project/form_view.h"
#include "sealer/project/seal_request.h"

namespace qx {

// Beep, then the focus to |field|, which must not be left empty; false, for
// the caller to return.
bool RefuseEmptyField(FormView& view, FormControl field);
// Shows |error| over the form as the engine's boxes always have: a stop box,
// an information box, or only a beep, moving the focus to the field it
// concerns where it names one. Cancel and a declined question show nothing.
void ShowSealError(FormView& view, const Error& error);

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
