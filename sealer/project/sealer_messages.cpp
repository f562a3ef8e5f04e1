// The sealer's message boxes. Sealer engine, without a window.
#include "sealer/project/sealer_messages.h"

#include <string>

#include "sealer/project/sealer_state.h"

namespace qx {

void ErrorBox(std::string_view text) {
  BeepAndShow(BeepKind::kSimple,
              {nullptr, std::string(text), kSealerCaption, BoxIcon::kStop, BoxButtons::kOk});
}

void InfoBox(WindowHandle owner, std::string_view text) {
  BeepAndShow(BeepKind::kSimple,
              {owner, std::string(text), kSealerCaption, BoxIcon::kInformation, BoxButtons::kOk});
}

BoxAnswer AskBox(WindowHandle owner, std::string_view text, BoxButtons buttons,
                 std::string_view caption) {
  return BeepAndShow(BeepKind::kSimple,
                     {owner, std::string(text), std::string(caption), BoxIcon::kQuestion, buttons});
}

bool RefuseEmptyField(FormView& view, FormControl field) {
  CurrentUserInterface().Beep(BeepKind::kSimple);
  view.FocusControl(field, false);
  return false;
}

bool RefuseWhileSealing(const SealerState& state) {
  if (state.seal_running) {
    CurrentUserInterface().Beep(BeepKind::kSimple);
    return true;
  }
  return false;
}

}  // namespace qx
