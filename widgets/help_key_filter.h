#pragma once

// F1 for a whole program: when the key comes up over the main window, one of
// its dialogs, a message box or a menu, the window is asked for help after
// the key has been delivered as usual. Shared widgets.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace qx::ui {

// Where an F1 came from.
enum class HelpSource { kDialog, kMenu };

class HelpKeyFilter : public QObject {
 public:
  // Watches the application's events from now until destruction; |request|
  // runs from |window|'s event loop, and not once the window is gone.
  HelpKeyFilter(QWidget& window, std::function<void(HelpSource)> request);
  ~HelpKeyFilter() override;
  HelpKeyFilter(const HelpKeyFilter&) = delete;
  HelpKeyFilter& operator=(const HelpKeyFilter&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> window_;
  std::function<void(HelpSource)> request_;
  bool f1_down_ = false;
};

}  // namespace qx::ui
