// The boxes of a seal's or a scan's errors, notices and questions. Sealer
// engine, without a window.
#include "sealer/project/seal_boxes.h"

#include <string>

namespace qx {

namespace {

constexpr char kPackFileNameCaption[] = "Unable to read pack file name";
constexpr char kCorruptListCaption[] = "Sealer Project Files corrupted";

}  // namespace

std::optional<MessageBoxRequest> SealErrorBox(const Error& error, WindowHandle owner) {
  switch (error.code) {
    case kSealCancelled:
    case kSealDeclined:
    case kSealFieldMissing:
      return std::nullopt;
    case kSealFieldInvalid:
    case kSealNotice:
      return MessageBoxRequest{owner, error.message, kSealerCaption, BoxIcon::kInformation,
                               BoxButtons::kOk};
    case kSealUnreadableListLine:
      return MessageBoxRequest{nullptr, error.message, kPackFileNameCaption, BoxIcon::kNone,
                               BoxButtons::kOk};
    default:
      // Failures stand on their own, over no window.
      if (error.message.empty()) {
        return std::nullopt;
      }
      return MessageBoxRequest{nullptr, error.message, kSealerCaption, BoxIcon::kStop,
                               BoxButtons::kOk};
  }
}

MessageBoxRequest SealNoticeBox(const Error& notice, WindowHandle owner) {
  // A notice of the run (kSealNotice) is the form's; the codec's words on a
  // failed file are its own box, over no window.
  const bool run_notice = notice.code == kSealNotice;
  return {run_notice ? owner : nullptr, notice.message, kSealerCaption, BoxIcon::kInformation,
          BoxButtons::kOk};
}

MessageBoxRequest SealCompleteBox(std::string_view appl_name, WindowHandle owner) {
  return {owner, "The " + std::string(appl_name) + " package seal is complete.", kSealerCaption,
          BoxIcon::kNone, BoxButtons::kOk};
}

MessageBoxRequest SealQuestionBox(SealQuestion question, std::string_view text,
                                  WindowHandle owner) {
  if (question == SealQuestion::kRecreateList) {
    return {owner, std::string(text), kCorruptListCaption, BoxIcon::kQuestion, BoxButtons::kYesNo};
  }
  return {owner, std::string(text), kSealerCaption, BoxIcon::kQuestion, BoxButtons::kOkCancel};
}

bool IsConsent(BoxAnswer answer) {
  return answer == BoxAnswer::kOk || answer == BoxAnswer::kYes;
}

}  // namespace qx
