#pragma once

// What the windows share: the busy cursor, centring, and the dialog units
// the sealer's layouts are given in. Shared widgets.

#include <QFont>
#include <QRect>

class QWidget;

namespace qx::ui {

// Begins (true) or ends (false) a stretch of work under the wait cursor.
// Stretches nest: the first begin shows the wait cursor, the end that
// closes the nest restores the cursor before it; an end without a begin
// does nothing.
void BusyCursor(bool begin, bool interactive = false);
// The nesting depth, for the tests.
int BusyCursorDepth();

// A stretch under the wait cursor for one scope.
class BusyScope {
 public:
  explicit BusyScope(bool interactive = false) { BusyCursor(true, interactive); }
  ~BusyScope() { BusyCursor(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// Centres |window| over its parent's area (kept inside the screen's bottom
// and right edges) when |over_parent| and it has one, else within the
// screen's work area; a negative left or top becomes 0.
void CentreWindow(QWidget* window, bool over_parent);

// Converts dialog-unit rectangles to pixels through a font's average
// character width and height, as the dialog templates were laid out.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Widens the horizontal unit by |factor| (at least 1), for a font whose
  // words run wider against its average letter than the template's did.
  void Widen(double factor);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int left, int top, int width, int height) const;

 private:
  double base_x_;
  int base_y_;
};

}  // namespace qx::ui
