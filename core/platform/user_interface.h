#pragma once

// The user interface behind every message box and beep: box requests and
// answers, the one interface installed per process, and a scoped install.
// Platform layer.

#include <string>

#include "qxwebcore_export.h"

namespace qx {

// Opaque handle of a window that owns a message box; null means no owner.
using WindowHandle = const void*;

enum class BoxIcon { kNone, kInformation, kQuestion, kStop, kWarning };
enum class BoxButtons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class BoxAnswer { kOk, kCancel, kYes, kNo };

// The simple beep (every error box) and the default beep (settings, "No memory").
enum class BeepKind { kSimple, kDefault };

struct MessageBoxRequest {
  WindowHandle owner = nullptr;
  std::string text;
  std::string caption;
  BoxIcon icon = BoxIcon::kNone;
  BoxButtons buttons = BoxButtons::kOk;
};

// Message boxes, beeps and event delivery of the program's window system.
// One implementation is installed per process; the code that shows a box
// calls CurrentUserInterface() exactly where the box is due.
class QXWEBCORE_EXPORT UserInterface {
 public:
  virtual ~UserInterface();
  virtual void Beep(BeepKind kind) = 0;
  // Shows a modal box and returns the button chosen.
  virtual BoxAnswer ShowMessageBox(const MessageBoxRequest& request) = 0;
  // Lets the window system deliver pending events; a no-op without one.
  virtual void DeliverPendingEvents() {}
};

// The installed interface; a console interface answering OK/Yes when none is.
QXWEBCORE_EXPORT UserInterface& CurrentUserInterface();
// Installs |ui| (not owned; null restores the default) and returns the previous one.
QXWEBCORE_EXPORT UserInterface* InstallUserInterface(UserInterface* ui);

// Installs an interface for the lifetime of a scope.
class QXWEBCORE_EXPORT ScopedUserInterface {
 public:
  explicit ScopedUserInterface(UserInterface& ui) : previous_(InstallUserInterface(&ui)) {}
  ~ScopedUserInterface() { InstallUserInterface(previous_); }
  ScopedUserInterface(const ScopedUserInterface&) = delete;
  ScopedUserInterface& operator=(const ScopedUserInterface&) = delete;

 private:
  UserInterface* previous_;
};

// Convenience: beep, then show a box.
QXWEBCORE_EXPORT BoxAnswer BeepAndShow(BeepKind beep, const MessageBoxRequest& request);

}  // namespace qx
