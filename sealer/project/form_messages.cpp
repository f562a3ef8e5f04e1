// A seal's or a scan's errors shown over the form, and the form as a run's
// observer. Sealer engine, for a form.
#include "sealer/project/form_messages.h"

#include <optional>
#include <string>

#include "sealer/project/seal_boxes.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

// The control of a field named by its project file key.
std::optional<FormControl> ControlOf(std::string_view key) {
  static constexpr struct {
    std::string_view key;
    FormControl control;
  } kControls[] = {{"Owner", FormControl::kOwner},
                   {"ApplName", FormControl::kName},
                   {"CommandLine", FormControl::kCommandLine},
                   {"InstallTo", FormControl::kInstallTo},
                   {"SealFrom", FormControl::kSealFrom},
                   {"PutTo", FormControl::kPutTo}};
  for (const auto& item : kControls) {
    if (item.key == key) {
      return item.control;
    }
  }
  return std::nullopt;
}

}  // namespace

void ShowSealError(FormView& view, const Error& error) {
  if (std::optional<MessageBoxRequest> box = SealErrorBox(error, view.Owner())) {
    BeepAndShow(BeepKind::kSimple, *box);
  } else if (error.code == kSealFieldMissing) {
    CurrentUserInterface().Beep(BeepKind::kSimple);
  }
  // A refused field takes the focus, so that the form shows which one.
  const bool field = error.code == kSealFieldMissing || error.code == kSealFieldInvalid ||
                     error.code == kSealFieldConflict;
  if (field) {
    if (const std::optional<FormControl> control = ControlOf(error.path)) {
      view.FocusControl(*control, false);
    }
  }
}

bool Shown(FormView& view, const Result<void>& result) {
  if (!result.ok()) {
    ShowSealError(view, result.error());
  }
  return result.ok();
}

bool FormObserver::Progress(std::string_view text, const SealProgress* progress) {
  return view_.ProgressStep(text, progress);
}

bool FormObserver::Ask(SealQuestion question, std::string_view text) {
  return IsConsent(BeepAndShow(BeepKind::kSimple, SealQuestionBox(question, text, view_.Owner())));
}

void FormObserver::Notice(const Error& error) {
  BeepAndShow(BeepKind::kSimple, SealNoticeBox(error, view_.Owner()));
}

bool RefuseEmptyField(FormView& view, FormControl field) {
  CurrentUserInterface().Beep(BeepKind::kSimple);
  view.FocusControl(field, false);
  return false;
}

}  // namespace qx
