#pragma once

// The sealer's message boxes: error, information and question boxes with
// their caption and beep, and a run's failure as an error. Sealer engine,
// without a window.

#include <string>
#include <string_view>
#include <vector>

#include "core/platform/list_box.h"
#include "core/platform/result.h"
#include "core/platform/user_interface.h"
#include "sealer/project/seal_boxes.h"
#include "sealer/project/seal_request.h"

namespace qx {

// The error of a failed seal or scan: shown as ErrorBox shows its text.
Error SealFailure(std::string text, std::string path = {});

// Beep, then a stop box with an OK button and no owner.
void ErrorBox(std::string_view text);
// Beep, then an information box with an OK button over |owner|.
void InfoBox(WindowHandle owner, std::string_view text);
// Beep, then a question box over |owner|; the button chosen.
BoxAnswer AskBox(WindowHandle owner, std::string_view text, BoxButtons buttons,
                 std::string_view caption = kSealerCaption);

// The lines of |list|, in order.
std::vector<std::string> ListLines(const ListBox& list);

}  // namespace qx
