// The busy cursor, centring and dialog units.
#include "widgets/window_services.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace qx::ui {

namespace {

int busy_depth = 0;

}  // namespace

void BusyCursor(bool begin, bool interactive) {
  if (begin) {
    if (busy_depth++ == 0) {
      // During a seal the window still takes Cancel, so it shows the cursor
      // of work in the background.
      QGuiApplication::setOverrideCursor(interactive ? Qt::BusyCursor : Qt::WaitCursor);
    }
    return;
  }
  if (busy_depth > 0 && --busy_depth == 0) {
    QGuiApplication::restoreOverrideCursor();
  }
}

int BusyCursorDepth() {
  return busy_depth;
}

void CentreWindow(QWidget* window, bool over_parent) {
  const QRect frame = window->frameGeometry();
  QScreen* screen =
      window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  const QRect desktop = screen != nullptr ? screen->geometry() : QRect();
  QWidget* parent = window->parentWidget();
  QPoint top_left;
  if (over_parent && parent != nullptr) {
    const QRect area(parent->mapToGlobal(QPoint(0, 0)), parent->size());
    top_left = QPoint(area.left() + (area.width() - frame.width()) / 2,
                      area.top() + (area.height() - frame.height()) / 2);
    top_left.setX(std::min(top_left.x(), desktop.right() + 1 - frame.width()));
    top_left.setY(std::min(top_left.y(), desktop.bottom() + 1 - frame.height()));
  } else {
    const QRect work = screen != nullptr ? screen->availableGeometry() : QRect();
    top_left = QPoint(work.left() + (work.width() - frame.width()) / 2,
                      work.top() + (work.height() - frame.height()) / 2);
  }
  top_left.setX(std::max(top_left.x(), 0));
  top_left.setY(std::max(top_left.y(), 0));
  window->move(top_left);
  window->update();
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the 52 letters, rounded, as dialog base units are.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  base_x_ = std::max(1, (letters / 26 + 1) / 2);
  base_y_ = std::max(1, metrics.height());
}

void DialogUnits::Widen(double factor) {
  base_x_ *= std::max(factor, 1.0);
}

int DialogUnits::X(int units) const {
  return static_cast<int>(units * base_x_ / 4 + 0.5);
}

int DialogUnits::Y(int units) const {
  return (units * base_y_ + 4) / 8;
}

QRect DialogUnits::Rect(int left, int top, int width, int height) const {
  return QRect(X(left), Y(top), X(width), Y(height));
}

}  // namespace qx::ui
