// The width table's storage, growing and shrinking in steps, its bisection,
// and the operations that keep a list box's extent as lines come and go.
// Width-table layer.
#include "core/widthlist/width_list.h"

#include <algorithm>
#include <memory>
#include <new>

namespace qx {

WidthList::WidthList() = default;

bool WidthList::Reserve(uint16_t capacity) {
  try {
    // One slot beyond the capacity: an insertion moves the last width into it.
    widths_.resize(static_cast<size_t>(capacity) + 1, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  capacity_ = capacity;
  return true;
}

uint16_t WidthList::Position(uint16_t width) const {
  // Bisection over the count widths plus the slot after them, which reads 0.
  uint16_t lo = 0;
  uint16_t hi = static_cast<uint16_t>(count_ + 1);
  uint16_t mid = 0;
  bool first = true;
  uint16_t previous = 0;
  for (;;) {
    mid = static_cast<uint16_t>((lo + hi) / 2);
    if (!first && mid == previous) {
      return static_cast<uint16_t>(mid + 1);
    }
    if (width < widths_[mid]) {
      lo = mid;
    } else {
      hi = mid;
    }
    if (hi == lo || width == widths_[mid]) {
      return mid;
    }
    previous = mid;
    first = false;
  }
}

WidthList* FindWidthList(ListBox& list_box) {
  return dynamic_cast<WidthList*>(list_box.WidthTableSlot().get());
}

bool WidthListCreate(ListBox& list_box) {
  list_box.WidthTableSlot().reset();
  std::unique_ptr<WidthList> table;
  try {
    table = std::make_unique<WidthList>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!table->Reserve(kWidthListStep)) {
    return false;
  }
  list_box.WidthTableSlot() = std::move(table);
  return true;
}

uint16_t WidthListFree(ListBox& list_box) {
  if (FindWidthList(list_box) == nullptr) {
    return kWidthListFailed;
  }
  list_box.WidthTableSlot().reset();
  return 0;
}

bool WidthListReset(ListBox& list_box) {
  WidthListFree(list_box);
  const bool created = WidthListCreate(list_box);
  list_box.SetHorizontalExtent(0);
  return created;
}

uint16_t WidthListAdd(ListBox& list_box, std::string_view text) {
  WidthList* table = FindWidthList(list_box);
  if (table == nullptr) {
    return kWidthListFailed;
  }
  if (table->count_ == table->capacity_) {
    // Capacity is 16-bit: past the last step the table cannot grow.
    if (table->capacity_ > UINT16_MAX - kWidthListStep ||
        !table->Reserve(static_cast<uint16_t>(table->capacity_ + kWidthListStep))) {
      return kWidthListFailed;
    }
  }
  const uint16_t width = MeasureLine(list_box, text);
  const uint16_t position = table->count_ == 0 ? 0 : table->Position(width);
  auto& widths = table->widths_;
  std::copy_backward(widths.begin() + position, widths.begin() + table->count_,
                     widths.begin() + table->count_ + 1);
  widths[position] = width;
  ++table->count_;
  if (position == 0) {
    list_box.SetHorizontalExtent(width);
    return width;
  }
  return 0;
}

uint16_t WidthListRemove(ListBox& list_box, std::string_view text) {
  WidthList* table = FindWidthList(list_box);
  if (table == nullptr || table->count_ == 0) {
    return kWidthListFailed;
  }
  if (table->capacity_ - table->count_ == kWidthListStep &&
      !table->Reserve(static_cast<uint16_t>(table->capacity_ - kWidthListStep))) {
    return kWidthListFailed;
  }
  const uint16_t width = MeasureLine(list_box, text);
  // A width narrower than every held one would stand after the last: the
  // last width is the one that goes.
  const uint16_t position =
      std::min(table->Position(width), static_cast<uint16_t>(table->count_ - 1));
  auto& widths = table->widths_;
  std::copy(widths.begin() + position + 1, widths.begin() + table->count_,
            widths.begin() + position);
  --table->count_;
  widths[table->count_] = 0;
  if (position == 0) {
    list_box.ScrollToLeft();
    list_box.SetHorizontalExtent(widths[0]);
    return widths[0];
  }
  return 0;
}

uint16_t MeasureLine(const ListBox& list_box, std::string_view text) {
  const int width = list_box.MeasureLine(text);
  if (width <= 0) {
    return 0;
  }
  return static_cast<uint16_t>(std::min(width, static_cast<int>(kMaxLineWidth)));
}

}  // namespace qx
