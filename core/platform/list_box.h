#pragma once

// The list box as the window system offers it, with the slot it keeps for its
// width table, and MemoryListBox, a list box held in memory. Platform layer.

#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Something a list box carries for its owner (the width table): the list
// box's own slot stands in for a window property.
class QXWEBCORE_EXPORT ListBoxProperty {
 public:
  virtual ~ListBoxProperty();
};

// A list box of text lines as the window system offers it. Indices are
// 0-based; a line's pixel width comes from MeasureLine.
class QXWEBCORE_EXPORT ListBox {
 public:
  virtual ~ListBox();

  virtual int Count() const = 0;
  // The text of line |index|; empty for an index out of range.
  virtual std::string Text(int index) const = 0;
  // Appends a line and returns its index.
  virtual int Add(std::string_view text) = 0;
  // Inserts a line before |index| (at the end for an index out of range).
  virtual int Insert(int index, std::string_view text) = 0;
  // Removes line |index|; false for an index out of range.
  virtual bool Delete(int index) = 0;
  virtual void Clear() = 0;
  // Selects line |index| (-1 selects none).
  virtual void Select(int index) = 0;
  virtual int Selected() const = 0;
  // Switches repainting off and on around bulk changes.
  virtual void SetRedraw(bool on) = 0;
  // Pixel width of |text| in the list box's font plus the font's average
  // character width; 0 when the text cannot be measured.
  virtual int MeasureLine(std::string_view text) const = 0;
  virtual void SetHorizontalExtent(int extent) = 0;
  virtual int HorizontalExtent() const = 0;
  // Scrolls horizontally to the left end.
  virtual void ScrollToLeft() = 0;

  // The list box's slot for its width table; at most one table per list box.
  std::unique_ptr<ListBoxProperty>& WidthTableSlot() { return width_table_; }

 private:
  std::unique_ptr<ListBoxProperty> width_table_;
};

// A list box held in memory: a line is as wide as its characters times a
// fixed pitch, plus the average character width. Lines live in a deque, so
// removing from either end is cheap.
class QXWEBCORE_EXPORT MemoryListBox : public ListBox {
 public:
  static constexpr int kDefaultPitch = 7;
  static constexpr int kDefaultAverageCharWidth = 6;

  explicit MemoryListBox(int pitch = kDefaultPitch,
                         int average_char_width = kDefaultAverageCharWidth)
      : pitch_(pitch), average_char_width_(average_char_width) {}

  int Count() const override { return static_cast<int>(lines_.size()); }
  std::string Text(int index) const override;
  int Add(std::string_view text) override;
  int Insert(int index, std::string_view text) override;
  bool Delete(int index) override;
  void Clear() override;
  void Select(int index) override { selected_ = index; }
  int Selected() const override { return selected_; }
  void SetRedraw(bool on) override { redraw_ = on; }
  int MeasureLine(std::string_view text) const override;
  void SetHorizontalExtent(int extent) override { extent_ = extent; }
  int HorizontalExtent() const override { return extent_; }
  void ScrollToLeft() override { ++scrolls_to_left_; }

  bool redraw() const { return redraw_; }
  int scrolls_to_left() const { return scrolls_to_left_; }
  const std::deque<std::string>& lines() const { return lines_; }

 private:
  int pitch_;
  int average_char_width_;
  std::deque<std::string> lines_;
  int selected_ = -1;
  bool redraw_ = true;
  int extent_ = 0;
  int scrolls_to_left_ = 0;
};

}  // namespace qx
