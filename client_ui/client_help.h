#pragma once

// The client window's help: its topics as a book for the shared help viewer,
// and the context number of each part of the window. Client window.

#include "widgets/help_window.h"

namespace qx::ui {

// One topic for the window and its list, one for each group of buttons.
enum ClientHelpContext : int {
  kClientWindowTopic = 1000,     // the window, the list of applications and the details
  kClientRunTopic = 1100,        // Launch, Update and Cancel
  kClientOrderTopic = 1200,      // Move Up, Move Down and Refresh
  kClientRemovalTopic = 1300,    // Mark for Removal and Remove
  kClientCacheTopic = 1400,      // Install from URL and the cache root
  kClientDetailsContext = 1001,  // the details pane, shown with the window's topic
};

// The property that names a widget's help context; F1 over it, or over a
// widget inside it, shows that topic.
inline constexpr char kHelpContextProperty[] = "helpContext";

// The client's topics under ":/client_help".
const HelpBook& ClientHelpBook();

}  // namespace qx::ui
