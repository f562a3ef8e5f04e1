#pragma once

// The width table of a list box: its lines' pixel widths, widest first, so
// that the horizontal extent follows the widest line. Width-table layer.

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/platform/list_box.h"
#include "qxwebcore_export.h"

namespace qx {

// Result of the width-table operations when the list box has no table, the
// table is empty on removal, or its storage cannot grow.
inline constexpr uint16_t kWidthListFailed = 65535;
// Widths by which the storage grows and shrinks; also its size at creation.
inline constexpr uint16_t kWidthListStep = 128;
// Widest width kept: a wider line counts as this wide, so that an extent
// never reads as the failure result.
inline constexpr uint16_t kMaxLineWidth = 65534;

class WidthList;

// The list box's table, or null when it has none.
QXWEBCORE_EXPORT WidthList* FindWidthList(ListBox& list_box);

// Attaches an empty table (replacing any old one); false when no memory
// could be had, and then the list box has no table.
QXWEBCORE_EXPORT bool WidthListCreate(ListBox& list_box);
// Releases the list box's table: 0, or kWidthListFailed when it had none.
QXWEBCORE_EXPORT uint16_t WidthListFree(ListBox& list_box);
// Replaces the table by an empty one and sets the extent to 0; the result of
// the creation.
QXWEBCORE_EXPORT bool WidthListReset(ListBox& list_box);
// Records the width of a line being added: the new extent when it became the
// widest, 0 when not, kWidthListFailed without a table or when it cannot grow.
QXWEBCORE_EXPORT uint16_t WidthListAdd(ListBox& list_box, std::string_view text);
// Drops the width of a line being removed: the new extent when the widest
// width went, 0 when not, kWidthListFailed without a table or when empty.
QXWEBCORE_EXPORT uint16_t WidthListRemove(ListBox& list_box, std::string_view text);
// The line's width in the list box's font plus the average character width,
// capped at kMaxLineWidth; 0 when it cannot be measured.
QXWEBCORE_EXPORT uint16_t MeasureLine(const ListBox& list_box, std::string_view text);

// The pixel widths of a list box's lines, widest first, so that the
// horizontal extent can follow the widest line without measuring them all.
// Which width belongs to which line is not recorded.
class QXWEBCORE_EXPORT WidthList : public ListBoxProperty {
 public:
  WidthList();

  uint16_t count() const { return count_; }
  uint16_t capacity() const { return capacity_; }
  // Width at |index|; slots beyond count() read as 0.
  uint16_t at(uint16_t index) const { return index < widths_.size() ? widths_[index] : 0; }

 private:
  friend bool WidthListCreate(ListBox& list_box);
  friend uint16_t WidthListAdd(ListBox& list_box, std::string_view text);
  friend uint16_t WidthListRemove(ListBox& list_box, std::string_view text);

  // Index of a width equal to |width| met by the bisection, else the index
  // before which |width| keeps the order.
  QXWEBCORE_NO_EXPORT uint16_t Position(uint16_t width) const;
  // Resizes the storage to |capacity| widths plus the one slot an insertion
  // moves into; false when memory runs out.
  QXWEBCORE_NO_EXPORT bool Reserve(uint16_t capacity);

  uint16_t count_ = 0;
  uint16_t capacity_ = 0;
  std::vector<uint16_t> widths_;
};

}  // namespace qx
