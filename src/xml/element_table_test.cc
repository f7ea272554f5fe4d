#include "xml/element_table.h"

#include "gtest/gtest.h"

namespace vm {
namespace {

constexpr int32_t kSegment = ElementTable::kSegmentRecords;

void Fill(ElementTable* table, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) (*table)[i].start = i;
}

void ExpectFilled(const ElementTable& table, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    ASSERT_EQ(table[i].start, i) << "record " << i;
  }
}

TEST(ElementTableTest, GrowsOneSegmentAtATimeAndKeepsRecords) {
  ElementTable table;
  EXPECT_EQ(table.Capacity(), 0);
  table.Grow(10);
  EXPECT_EQ(table.Capacity(), 10);
  Fill(&table, 0, 10);
  table.Grow(5);  // never shrinks
  EXPECT_EQ(table.Capacity(), 10);

  // Past one segment: the partial first segment is filled up and a partial
  // second one added.
  table.Grow(kSegment + 100);
  EXPECT_EQ(table.Capacity(), kSegment + 100);
  EXPECT_EQ(table.SegmentCount(), 2);
  ExpectFilled(table, 10);
  EXPECT_EQ(table[kSegment + 99].start, 0);  // new records are zero
  Fill(&table, 10, kSegment + 100);

  // A request far ahead is cut to the end of the next segment.
  table.Grow(10 * kSegment);
  EXPECT_EQ(table.Capacity(), 3 * kSegment);
  EXPECT_EQ(table.SegmentCount(), 3);
  ExpectFilled(table, kSegment + 100);

  // Growing inside the last segment keeps it.
  Fill(&table, 0, 3 * kSegment);
  table.Grow(3 * kSegment + 7);
  EXPECT_EQ(table.SegmentCount(), 4);
  table.Grow(3 * kSegment + 70000 % kSegment);
  ExpectFilled(table, 3 * kSegment);
}

TEST(ElementTableTest, CopyHoldsTheUsedRecordsOnly) {
  ElementTable source;
  source.Grow(2 * kSegment);
  source.Grow(2 * kSegment + 5);
  ASSERT_EQ(source.Capacity(), 2 * kSegment + 5);
  Fill(&source, 0, 2 * kSegment + 5);

  ElementTable copy;
  copy.Grow(40);
  copy.CopyFrom(source, kSegment + 3);
  EXPECT_EQ(copy.Capacity(), kSegment + 3);
  EXPECT_EQ(copy.SegmentCount(), 2);
  ExpectFilled(copy, kSegment + 3);

  copy.CopyFrom(source, 2);
  EXPECT_EQ(copy.Capacity(), 8);
  EXPECT_EQ(copy.SegmentCount(), 1);
  ExpectFilled(copy, 2);
}

}  // namespace
}  // namespace vm
