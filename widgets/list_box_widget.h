#pragma once

// The windows' list boxes: a QListWidget that is also the engine's ListBox,
// with a horizontal extent as the width table sets it. Shared widgets.

#include <QListWidget>
#include <string>
#include <string_view>

#include "core/platform/list_box.h"

namespace qx::ui {

// Each line keeps the bytes it was given, so that a name that is not valid
// UTF-8 comes back unchanged; the widget shows it as well as it can.
class ListBoxWidget : public QListWidget, public ListBox {
  Q_OBJECT

 public:
  explicit ListBoxWidget(QWidget* parent = nullptr);

  int Count() const override { return count(); }
  std::string Text(int index) const override;
  int Add(std::string_view text) override;
  int Insert(int index, std::string_view text) override;
  bool Delete(int index) override;
  void Clear() override { clear(); }
  void Select(int index) override;
  int Selected() const override { return currentRow(); }
  void SetRedraw(bool on) override { setUpdatesEnabled(on); }
  int MeasureLine(std::string_view text) const override;
  void SetHorizontalExtent(int extent) override;
  int HorizontalExtent() const override { return extent_; }
  void ScrollToLeft() override;

 protected:
  // The horizontal scroll range follows the extent alone, as a list box's
  // does: lines wider than the extent are cut.
  void updateGeometries() override;

 private:
  QListWidgetItem* MakeItem(std::string_view text) const;

  int extent_ = 0;
};

}  // namespace qx::ui
