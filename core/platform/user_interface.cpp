// The process-wide user interface and the per-thread one over it: installing
// them, the console interface that stands in when none is installed, the
// deferring interface, and beep-then-show. Platform layer.
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

// The calling thread's own interface, over the process's.
thread_local UserInterface* thread_interface = nullptr;

}  // namespace

UserInterface& CurrentUserInterface() {
  if (thread_interface != nullptr) {
    return *thread_interface;
  }
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

ScopedThreadUserInterface::ScopedThreadUserInterface(UserInterface& ui)
    : previous_(thread_interface) {
  thread_interface = &ui;
}

ScopedThreadUserInterface::~ScopedThreadUserInterface() {
  thread_interface = previous_;
}

void DeferredUserInterface::Beep(BeepKind kind) {
  Event event;
  event.is_beep = true;
  event.beep = kind;
  events_.push_back(std::move(event));
}

BoxAnswer DeferredUserInterface::ShowMessageBox(const MessageBoxRequest& request) {
  Event event;
  event.box = request;
  events_.push_back(std::move(event));
  return request.buttons == BoxButtons::kYesNo || request.buttons == BoxButtons::kYesNoCancel
             ? BoxAnswer::kYes
             : BoxAnswer::kOk;
}

void DeferredUserInterface::Replay(UserInterface& ui) {
  std::vector<Event> events = std::move(events_);
  events_.clear();
  for (const Event& event : events) {
    if (event.is_beep) {
      ui.Beep(event.beep);
    } else {
      ui.ShowMessageBox(event.box);
    }
  }
}

BoxAnswer BeepAndShow(BeepKind beep, const MessageBoxRequest& request) {
  UserInterface& ui = CurrentUserInterface();
  ui.Beep(beep);
  return ui.ShowMessageBox(request);
}

}  // namespace qx
