// The program-wide F1 filter.
#include "widgets/help_key_filter.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <optional>
#include <utility>

namespace qx::ui {

HelpKeyFilter::HelpKeyFilter(QWidget& window, std::function<void(HelpSource)> request)
    : window_(&window), request_(std::move(request)) {
  qApp->installEventFilter(this);
}

HelpKeyFilter::~HelpKeyFilter() {
  qApp->removeEventFilter(this);
}

// A key from the display comes first to the top-level QWindow, then to the
// widget with the focus: only the widget's copy counts, or the window's
// release would use up the press.
bool HelpKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) {
    return false;
  }
  if (!watched->isWidgetType() || window_.isNull()) {
    return false;
  }
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier || key->isAutoRepeat()) {
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    f1_down_ = true;
    return false;
  }
  if (!f1_down_) {
    return false;
  }
  f1_down_ = false;
  auto* widget = static_cast<QWidget*>(watched);
  std::optional<HelpSource> source;
  if (qobject_cast<QMenu*>(widget) != nullptr || qobject_cast<QMenuBar*>(widget) != nullptr) {
    source = HelpSource::kMenu;
  } else if (widget->window() == window_.data() ||
             qobject_cast<QDialog*>(widget->window()) != nullptr) {
    source = HelpSource::kDialog;
  }
  if (source) {
    // The window is the timer's context: a request for a window closed
    // meanwhile is dropped with it.
    QTimer::singleShot(0, window_.data(), [request = request_, s = *source] { request(s); });
  }
  return false;
}

}  // namespace qx::ui
