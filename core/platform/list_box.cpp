// MemoryListBox: lines kept in a deque, the selection kept in range as lines
// go, and line widths from a fixed pitch. Platform layer.
#include "core/platform/list_box.h"

namespace qx {

ListBoxProperty::~ListBoxProperty() = default;
ListBox::~ListBox() = default;

std::string MemoryListBox::Text(int index) const {
  if (index < 0 || index >= Count()) {
    return {};
  }
  return lines_[static_cast<size_t>(index)];
}

int MemoryListBox::Add(std::string_view text) {
  lines_.emplace_back(text);
  return Count() - 1;
}

int MemoryListBox::Insert(int index, std::string_view text) {
  if (index < 0 || index >= Count()) {
    return Add(text);
  }
  lines_.emplace(lines_.begin() + index, text);
  return index;
}

bool MemoryListBox::Delete(int index) {
  if (index < 0 || index >= Count()) {
    return false;
  }
  if (index == 0) {
    lines_.pop_front();
  } else {
    lines_.erase(lines_.begin() + index);
  }
  if (selected_ >= Count()) {
    selected_ = Count() - 1;
  }
  return true;
}

void MemoryListBox::Clear() {
  lines_.clear();
  selected_ = -1;
}

int MemoryListBox::MeasureLine(std::string_view text) const {
  return static_cast<int>(text.size()) * pitch_ + average_char_width_;
}

}  // namespace qx
