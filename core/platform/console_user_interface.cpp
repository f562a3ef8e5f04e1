// Message boxes as console lines, "caption: text", with the preset answer
// shown after a question. Platform layer.
#include "core/platform/console_user_interface.h"

#include <cctype>
#include <string>
#include <string_view>

namespace qx {

namespace {

// Reads one answer line; Yes only for "y" or "yes" in any case.
BoxAnswer ReadYesNo(std::FILE* input) {
  std::string line;
  for (int c = std::fgetc(input); c != EOF && c != '\n'; c = std::fgetc(input)) {
    if (!std::isspace(c)) {
      line += static_cast<char>(std::tolower(c));
    }
  }
  return line == "y" || line == "yes" ? BoxAnswer::kYes : BoxAnswer::kNo;
}

}  // namespace

void ConsoleUserInterface::Beep(BeepKind) {}

BoxAnswer ConsoleUserInterface::ShowMessageBox(const MessageBoxRequest& request) {
  // Box texts may start with an empty line and end with a line feed; a console
  // line reads better without them.
  std::string_view text = request.text;
  while (!text.empty() && text.front() == '\n') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  BoxAnswer answer = BoxAnswer::kOk;
  const char* answer_text = nullptr;
  switch (request.buttons) {
    case BoxButtons::kOk:
      answer = BoxAnswer::kOk;
      break;
    case BoxButtons::kOkCancel:
      answer = ok_cancel_answer_ == BoxAnswer::kCancel ? BoxAnswer::kCancel : BoxAnswer::kOk;
      answer_text = answer == BoxAnswer::kOk ? "OK" : "Cancel";
      break;
    case BoxButtons::kYesNo:
      answer = yes_no_answer_ == BoxAnswer::kYes ? BoxAnswer::kYes : BoxAnswer::kNo;
      answer_text = answer == BoxAnswer::kYes ? "Yes" : "No";
      break;
    case BoxButtons::kYesNoCancel:
      answer = yes_no_answer_;
      answer_text = answer == BoxAnswer::kYes ? "Yes" : answer == BoxAnswer::kNo ? "No" : "Cancel";
      break;
  }
  std::fprintf(stream_, "%s: %.*s", request.caption.c_str(), static_cast<int>(text.size()),
               text.data());
  if (prompt_input_ != nullptr && request.buttons == BoxButtons::kYesNo) {
    std::fputs(" [y/N] ", stream_);
    std::fflush(stream_);
    return ReadYesNo(prompt_input_);
  }
  if (answer_text != nullptr) {
    std::fprintf(stream_, " [%s]", answer_text);
  }
  std::fputc('\n', stream_);
  std::fflush(stream_);
  return answer;
}

}  // namespace qx
