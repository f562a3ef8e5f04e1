// The sealer's help book.
#include "sealer/ui/sealer_help.h"

namespace qx::ui {

const HelpBook& SealerHelpBook() {
  // Contexts that share a page: the recent projects, and the form's labels
  // and frames, which never hold the focus, with the field they name.
  static const HelpBook book{
      QStringLiteral("Tarnwick Web Lite Sealer Help"),
      QStringLiteral(":/help"),
      {{152, 151},
       {153, 151},
       {154, 151},
       {2001, 2051},
       {2003, 2053},
       {2004, 2054},
       {2005, 2055},
       {2025, 2063},
       {2026, 2064},
       {2027, 2000},
       {2028, 2000},
       {2029, 2000},
       {2079, 2000},
       {3004, 3054},
       {3005, 3054},
       {3055, 3054},
       {3100, 3056}},
  };
  return book;
}

QString HelpTopicPage(int context) {
  return HelpTopicPage(SealerHelpBook(), context);
}

bool HasHelpTopic(int context) {
  return HasHelpTopic(SealerHelpBook(), context);
}

}  // namespace qx::ui
