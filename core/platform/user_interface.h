#pragma once

// The user interface behind every message box and beep: box requests and
// answers, the one interface installed per process, scoped installs for the
// process and for one thread, and an interface that defers what it is shown.
// Platform layer.

#include <string>
#include <vector>

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

// The calling thread's interface when one is installed for it, else the
// process's; a console interface answering OK/Yes when none is.
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

// Installs |ui| for the calling thread only, over the process's interface,
// for the lifetime of a scope. A worker thread installs one so that nothing
// it does can reach a window that belongs to another thread.
class QXWEBCORE_EXPORT ScopedThreadUserInterface {
 public:
  explicit ScopedThreadUserInterface(UserInterface& ui);
  ~ScopedThreadUserInterface();
  ScopedThreadUserInterface(const ScopedThreadUserInterface&) = delete;
  ScopedThreadUserInterface& operator=(const ScopedThreadUserInterface&) = delete;

 private:
  UserInterface* previous_;
};

// Keeps every beep and box instead of showing it, for the thread that owns
// the window to show later. A box is answered at once with its first button
// (OK or Yes).
class QXWEBCORE_EXPORT DeferredUserInterface : public UserInterface {
 public:
  void Beep(BeepKind kind) override;
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request) override;
  // Beeps and shows, in order, through |ui| what was kept, and forgets it.
  void Replay(UserInterface& ui);

 private:
  struct Event {
    bool is_beep = false;
    BeepKind beep = BeepKind::kSimple;
    MessageBoxRequest box;
  };
  std::vector<Event> events_;
};

// Convenience: beep, then show a box.
QXWEBCORE_EXPORT BoxAnswer BeepAndShow(BeepKind beep, const MessageBoxRequest& request);

}  // namespace qx
