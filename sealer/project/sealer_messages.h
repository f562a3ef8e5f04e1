#pragma once

#include <string_view>

#include "core/platform/user_interface.h"

namespace qx {

// Caption of the sealer's message boxes.
inline constexpr char kSealerCaption[] = "Tarnwick Web Sealer";

// Beep, then a stop box with an OK button and no owner.
void ErrorBox(std::string_view text);
// Beep, then an information box with an OK button over |owner|.
void InfoBox(WindowHandle owner, std::string_view text);
// Beep, then a question box over |owner|; the button chosen.
BoxAnswer AskBox(WindowHandle owner, std::string_view text, BoxButtons buttons,
                 std::string_view caption = kSealerCaption);

}  // namespace qx
