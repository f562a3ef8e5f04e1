// Test support for tests of every layer: the scripted user interface's record
// of boxes and beeps and its queued answers.
#include "tests/support/scripted_user_interface.h"

namespace qx {

void ScriptedUserInterface::Beep(BeepKind kind) {
  ++beeps_;
  Event event;
  event.is_beep = true;
  event.beep = kind;
  events_.push_back(std::move(event));
}

BoxAnswer ScriptedUserInterface::ShowMessageBox(const MessageBoxRequest& request) {
  boxes_.push_back(request);
  Event event;
  event.box = request;
  events_.push_back(std::move(event));
  if (answers_.empty()) {
    return default_answer_;
  }
  BoxAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

std::vector<std::string> ScriptedUserInterface::texts() const {
  std::vector<std::string> result;
  result.reserve(boxes_.size());
  for (const MessageBoxRequest& box : boxes_) {
    result.push_back(box.text);
  }
  return result;
}

void ScriptedUserInterface::Clear() {
  boxes_.clear();
  events_.clear();
  beeps_ = 0;
  deliveries_ = 0;
}

}  // namespace qx
