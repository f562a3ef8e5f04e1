// The sealer's message boxes. Sealer engine, without a window.
#include "sealer/project/sealer_messages.h"

#include <optional>
#include <string>

#include "sealer/project/seal_boxes.h"

#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_state.h"

namespace qx {

Error SealFailure(std::string text, std::string path) {
  return Error{kSealFailed, std::move(text), std::move(path)};
}

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

std::vector<std::string> ListLines(const ListBox& list) {
  std::vector<std::string> lines;
  const int count = list.Count();
  lines.reserve(static_cast<size_t>(count > 0 ? count : 0));
  for (int i = 0; i < count; ++i) {
    lines.push_back(list.Text(i));
  }
  return lines;
}

bool RefuseWhileSealing(const SealerState& state) {
  if (state.seal_running) {
    CurrentUserInterface().Beep(BeepKind::kSimple);
    return true;
  }
  return false;
}

}  // namespace qx
