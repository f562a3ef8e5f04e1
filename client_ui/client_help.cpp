// The client window's help book.
#include "client_ui/client_help.h"

namespace qx::ui {

const HelpBook& ClientHelpBook() {
  static const HelpBook book{
      QStringLiteral("Tarnwick Web Client Help"),
      QStringLiteral(":/client_help"),
      {{kClientDetailsContext, kClientWindowTopic}},
  };
  return book;
}

}  // namespace qx::ui
