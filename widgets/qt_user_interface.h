#pragma once

// The window system's message boxes and beeps for both windows: QMessageBox
// and QApplication::beep behind the engine's UserInterface. Shared widgets.

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <map>

#include "core/platform/user_interface.h"

namespace qx::ui {

class QtUserInterface : public UserInterface {
 public:
  // Boxes whose owner is |handle| are shown over |widget|.
  void RegisterOwner(WindowHandle handle, QWidget* widget);

  void Beep(BeepKind kind) override;
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request) override;
  // Lets the window repaint and take input during long work; on the main
  // thread only, and at most every few hundredths of a second.
  void DeliverPendingEvents() override;

 private:
  QWidget* OwnerWidget(WindowHandle handle) const;

  std::map<WindowHandle, QPointer<QWidget>> owners_;
  QElapsedTimer since_delivery_;
};

}  // namespace qx::ui
