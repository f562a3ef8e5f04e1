#pragma once

// The sealer's help: its topics as a book for the shared help viewer, one
// page per context number, and the contexts that share a page. Sealer
// window.

#include <QString>

#include "widgets/help_window.h"

namespace qx::ui {

inline constexpr char kHelpFileName[] = "qxsealer-lite.hlp";

// The sealer's topics under ":/help".
const HelpBook& SealerHelpBook();

// The resource page of |context|; the contents page when there is none.
QString HelpTopicPage(int context);
// Whether |context| has a page of its own (or shares one with its field).
bool HasHelpTopic(int context);

}  // namespace qx::ui
