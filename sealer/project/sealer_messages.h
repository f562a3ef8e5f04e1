#pragma once

// The sealer's message boxes: error, information and question boxes with
// their caption and beep. Sealer engine, without a window.

#include <string_view>

#include "core/platform/user_interface.h"
#include "sealer/project/form_view.h"

namespace qx {

// Caption of the sealer's message boxes.
inline constexpr char kSealerCaption[] = "Tarnwick Web Sealer";

// Beep, then a stop box with an OK button and no owner.
void ErrorBox(std::string_view text);
// Beep, then an information box with an OK button over |owner|.
void InfoBox(WindowHandle owner, std::string_view text);
// Beep, then the focus to |field|, which must not be left empty; false, for
// the caller to return.
bool RefuseEmptyField(FormView& view, FormControl field);
// Beep, then a question box over |owner|; the button chosen.
BoxAnswer AskBox(WindowHandle owner, std::string_view text, BoxButtons buttons,
                 std::string_view caption = kSealerCaption);

}  // namespace qx
