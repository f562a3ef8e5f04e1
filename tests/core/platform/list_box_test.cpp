// Tests of the in-memory list box (platform layer): line order through
// inserts and deletes, and line widths.
#include "core/platform/list_box.h"

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(MemoryListBox, KeepsLinesInOrderThroughInsertAndDelete) {
  MemoryListBox list;
  EXPECT_EQ(list.Add("b"), 0);
  EXPECT_EQ(list.Insert(0, "a"), 0);
  EXPECT_EQ(list.Insert(99, "c"), 2);  // out of range appends
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Text(1), "b");
  EXPECT_EQ(list.Text(3), "");
  EXPECT_TRUE(list.Delete(0));
  EXPECT_FALSE(list.Delete(5));
  EXPECT_EQ(list.Text(0), "b");
  list.Select(1);
  EXPECT_TRUE(list.Delete(1));
  EXPECT_EQ(list.Selected(), 0);  // the selection follows the shorter list
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Selected(), -1);
}

TEST(MemoryListBox, MeasuresCharactersTimesPitchPlusAverageWidth) {
  MemoryListBox list(10, 4);
  EXPECT_EQ(list.MeasureLine("abc"), 34);
  EXPECT_EQ(list.MeasureLine(""), 4);
}

}  // namespace
}  // namespace qx
