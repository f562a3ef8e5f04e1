// The process-wide user interface: installing one, the console interface that
// stands in when none is installed, and beep-then-show. Platform layer.
#include "core/platform/user_interface.h"

#include "core/platform/console_user_interface.h"

namespace qx {

UserInterface::~UserInterface() = default;

namespace {

// The process-wide interface, behind the two accessors below.
UserInterface*& InstalledInterface() {
  static UserInterface* installed = nullptr;
  return installed;
}

}  // namespace

UserInterface& CurrentUserInterface() {
  if (UserInterface* ui = InstalledInterface()) {
    return *ui;
  }
  static ConsoleUserInterface fallback;
  return fallback;
}

UserInterface* InstallUserInterface(UserInterface* ui) {
  UserInterface* previous = InstalledInterface();
  InstalledInterface() = ui;
  return previous;
}

BoxAnswer BeepAndShow(BeepKind beep, const MessageBoxRequest& request) {
  UserInterface& ui = CurrentUserInterface();
  ui.Beep(beep);
  return ui.ShowMessageBox(request);
}

}  // namespace qx
