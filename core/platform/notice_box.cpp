// The library's notice box over the current user interface. Platform layer.
#include "core/platform/notice_box.h"

#include <utility>

#include "core/platform/user_interface.h"

namespace qx {

void ShowNoticeBox(std::string_view caption, std::string text) {
  MessageBoxRequest box;
  box.owner = nullptr;
  box.text = std::move(text);
  box.caption = std::string(caption);
  box.icon = BoxIcon::kInformation;
  box.buttons = BoxButtons::kOk;
  BeepAndShow(BeepKind::kSimple, box);
}

}  // namespace qx
