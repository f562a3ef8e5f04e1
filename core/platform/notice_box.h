#pragma once

// The library's notice box: a beep, then an information box without an
// owner, for the adapters that show as boxes what a lower layer returned as
// text. Platform layer.

#include <string>
#include <string_view>

namespace qx {

// Beeps, then shows |text| in an information box with an OK button,
// captioned |caption| and without an owner.
void ShowNoticeBox(std::string_view caption, std::string text);

}  // namespace qx
