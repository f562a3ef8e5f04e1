#pragma once

// The boxes that show a seal's or a scan's errors, notices and questions,
// the same for the window and the console. Sealer engine, without a window.

#include <optional>
#include <string_view>

#include "core/platform/result.h"
#include "core/platform/user_interface.h"
#include "sealer/project/seal_request.h"

namespace qx {

// Caption of the sealer's message boxes.
inline constexpr char kSealerCaption[] = "Tarnwick Web Sealer";

// The box that shows |error| over |owner|; none for an error that shows no
// box (Cancel, a declined question, an empty field, or no message).
std::optional<MessageBoxRequest> SealErrorBox(const Error& error, WindowHandle owner);

// The box of a notice a run gave on its way (SealObserver::Notice).
MessageBoxRequest SealNoticeBox(const Error& notice, WindowHandle owner);

// The box that says the package |appl_name| is sealed (shown without a beep).
MessageBoxRequest SealCompleteBox(std::string_view appl_name, WindowHandle owner);

// The box that asks |question|, and whether |answer| says OK or Yes to it.
MessageBoxRequest SealQuestionBox(SealQuestion question, std::string_view text, WindowHandle owner);
bool IsConsent(BoxAnswer answer);

}  // namespace qx
