// Tests of the width table (width-table layer): the extent as lines come and
// go, the order of widths, growth in steps, and the table's lifecycle.
#include "core/widthlist/width_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qx {
namespace {

// With a pitch of 1 and no average width, a line of n characters is n wide.
class WidthListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WidthListCreate(list_)); }

  static std::string Line(size_t width) { return std::string(width, 'x'); }
  WidthList& table() { return *FindWidthList(list_); }
  std::vector<uint16_t> Widths() {
    std::vector<uint16_t> widths;
    for (uint16_t i = 0; i < table().count(); ++i) {
      widths.push_back(table().at(i));
    }
    return widths;
  }

  MemoryListBox list_{1, 0};
};

TEST_F(WidthListTest, ExtentFollowsTheWidestLineAsLinesComeAndGo) {
  EXPECT_EQ(WidthListAdd(list_, Line(50)), 50);
  EXPECT_EQ(list_.HorizontalExtent(), 50);
  EXPECT_EQ(WidthListAdd(list_, Line(100)), 100);
  EXPECT_EQ(WidthListAdd(list_, Line(80)), 0);
  EXPECT_EQ(list_.HorizontalExtent(), 100);
  EXPECT_EQ(Widths(), (std::vector<uint16_t>{100, 80, 50}));

  EXPECT_EQ(WidthListRemove(list_, Line(100)), 80);
  EXPECT_EQ(list_.HorizontalExtent(), 80);
  EXPECT_EQ(list_.scrolls_to_left(), 1);
  EXPECT_EQ(WidthListRemove(list_, Line(50)), 0);
  EXPECT_EQ(list_.HorizontalExtent(), 80);
  EXPECT_EQ(list_.scrolls_to_left(), 1);
  EXPECT_EQ(Widths(), (std::vector<uint16_t>{80}));

  // The last line going leaves an extent of 0, and then nothing to remove.
  EXPECT_EQ(WidthListRemove(list_, Line(80)), 0);
  EXPECT_EQ(list_.HorizontalExtent(), 0);
  EXPECT_EQ(WidthListRemove(list_, Line(80)), kWidthListFailed);
  EXPECT_EQ(table().at(0), 0);
}

TEST_F(WidthListTest, EqualWidthsStandTogetherAndOneRemovalKeepsTheOther) {
  for (size_t width : {30, 70, 30, 70, 50}) {
    WidthListAdd(list_, Line(width));
  }
  EXPECT_EQ(Widths(), (std::vector<uint16_t>{70, 70, 50, 30, 30}));
  // The probe meets the second 70, so the extent is not touched at all.
  EXPECT_EQ(WidthListRemove(list_, Line(70)), 0);
  EXPECT_EQ(list_.HorizontalExtent(), 70);
  EXPECT_EQ(list_.scrolls_to_left(), 0);
  EXPECT_EQ(Widths(), (std::vector<uint16_t>{70, 50, 30, 30}));
}

TEST_F(WidthListTest, BisectionPlacesWidthsLikeTheReferenceExamples) {
  for (size_t width : {100, 80, 50}) {
    WidthListAdd(list_, Line(width));
  }
  // 120 goes first, 90 after 100, 10 at the end.
  EXPECT_EQ(WidthListAdd(list_, Line(90)), 0);
  EXPECT_EQ(WidthListAdd(list_, Line(10)), 0);
  EXPECT_EQ(WidthListAdd(list_, Line(120)), 120);
  EXPECT_EQ(Widths(), (std::vector<uint16_t>{120, 100, 90, 80, 50, 10}));
}

TEST_F(WidthListTest, OrderHoldsForManyWidthsInAnyOrder) {
  std::vector<uint16_t> added;
  uint32_t x = 12345;
  for (int i = 0; i < 300; ++i) {
    x = x * 1103515245u + 12345u;
    const auto width = static_cast<uint16_t>((x >> 16) % 200);
    added.push_back(width);
    WidthListAdd(list_, Line(width));
  }
  std::vector<uint16_t> widths = Widths();
  std::sort(added.rbegin(), added.rend());
  EXPECT_EQ(widths, added);
  EXPECT_EQ(list_.HorizontalExtent(), added.front());
  // Removing every line again, in the order added, empties the table.
  x = 12345;
  for (int i = 0; i < 300; ++i) {
    x = x * 1103515245u + 12345u;
    WidthListRemove(list_, Line((x >> 16) % 200));
    widths = Widths();
    ASSERT_TRUE(std::is_sorted(widths.rbegin(), widths.rend()));
  }
  EXPECT_EQ(table().count(), 0);
  EXPECT_EQ(list_.HorizontalExtent(), 0);
}

TEST_F(WidthListTest, GrowsAndShrinksInStepsOf128) {
  EXPECT_EQ(table().capacity(), 128);
  for (int i = 0; i < 128; ++i) {
    WidthListAdd(list_, Line(10));
  }
  EXPECT_EQ(table().capacity(), 128);
  WidthListAdd(list_, Line(10));  // the 129th
  EXPECT_EQ(table().capacity(), 256);
  WidthListRemove(list_, Line(10));
  EXPECT_EQ(table().count(), 128);
  EXPECT_EQ(table().capacity(), 256);
  WidthListRemove(list_, Line(10));  // starts with 128 in the table
  EXPECT_EQ(table().capacity(), 128);
  EXPECT_EQ(table().count(), 127);
  EXPECT_EQ(table().at(127), 0);
}

TEST_F(WidthListTest, SixteenBitCapacityEndsTheGrowth) {
  const uint16_t last_capacity = UINT16_MAX / kWidthListStep * kWidthListStep;  // 65408
  for (uint32_t i = 0; i < last_capacity; ++i) {
    ASSERT_NE(WidthListAdd(list_, Line(5)), kWidthListFailed) << i;
  }
  EXPECT_EQ(table().capacity(), last_capacity);
  EXPECT_EQ(WidthListAdd(list_, Line(5)), kWidthListFailed);
  EXPECT_EQ(table().count(), last_capacity);
}

TEST_F(WidthListTest, UnknownWidthRemovesTheOneWhereItWouldStand) {
  for (size_t width : {100, 80, 50}) {
    WidthListAdd(list_, Line(width));
  }
  EXPECT_EQ(WidthListRemove(list_, Line(90)), 0);  // would stand before 80
  EXPECT_EQ(Widths(), (std::vector<uint16_t>{100, 50}));
  // Narrower than all: the last width goes, and the slot after reads 0.
  EXPECT_EQ(WidthListRemove(list_, Line(3)), 0);
  EXPECT_EQ(Widths(), (std::vector<uint16_t>{100}));
  EXPECT_EQ(table().at(1), 0);
  // Wider than all: the first goes.
  EXPECT_EQ(WidthListRemove(list_, Line(500)), 0);
  EXPECT_EQ(table().count(), 0);
}

TEST(WidthListLifecycle, OperationsWithoutATableFailAndChangeNothing) {
  MemoryListBox list(1, 0);
  list.SetHorizontalExtent(33);
  EXPECT_EQ(WidthListAdd(list, "abc"), kWidthListFailed);
  EXPECT_EQ(WidthListRemove(list, "abc"), kWidthListFailed);
  EXPECT_EQ(WidthListFree(list), kWidthListFailed);
  EXPECT_EQ(list.HorizontalExtent(), 33);
  EXPECT_EQ(FindWidthList(list), nullptr);
}

TEST(WidthListLifecycle, ResetEmptiesTheTableAndTheExtentButNotTheLines) {
  MemoryListBox list(1, 0);
  ASSERT_TRUE(WidthListCreate(list));
  list.Add("abcdef");
  WidthListAdd(list, "abcdef");
  EXPECT_TRUE(WidthListReset(list));
  EXPECT_EQ(list.HorizontalExtent(), 0);
  EXPECT_EQ(FindWidthList(list)->count(), 0);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(WidthListFree(list), 0);
  EXPECT_EQ(FindWidthList(list), nullptr);
}

TEST(WidthListMeasure, AddsTheAverageWidthAndCapsAt16Bits) {
  MemoryListBox list(7, 6);
  EXPECT_EQ(MeasureLine(list, "abc"), 27);
  EXPECT_EQ(MeasureLine(list, ""), 6);
  EXPECT_EQ(MeasureLine(list, std::string(20000, 'w')), kMaxLineWidth);
  MemoryListBox broken(-1, 0);
  EXPECT_EQ(MeasureLine(broken, "abc"), 0);
}

}  // namespace
}  // namespace qx
