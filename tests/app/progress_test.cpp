// The progress bar's percentage and the waiting clock of the progress dialog.
#include <gtest/gtest.h>

#include "app/logic/progress.h"

using namespace qs::app;

TEST(ProgressPercentTest, SmallRanges) {
  EXPECT_EQ(ProgressPercent(0, 100, 0), 0u);
  EXPECT_EQ(ProgressPercent(0, 100, 71), 71u);
  EXPECT_EQ(ProgressPercent(0, 100, 100), 100u);
  EXPECT_EQ(ProgressPercent(0, 30000, 15000), 50u);
  EXPECT_EQ(ProgressPercent(0, 30000, 29999), 99u);
  EXPECT_EQ(ProgressPercent(10, 20, 15), 50u);
}

TEST(ProgressPercentTest, ClampsAndEmptyRanges) {
  EXPECT_EQ(ProgressPercent(0, 100, 250), 100u);
  EXPECT_EQ(ProgressPercent(10, 20, 3), 0u);
  EXPECT_EQ(ProgressPercent(0, 0, 0), 0u) << "a failed update sets the bounds to [0, 0]";
  EXPECT_EQ(ProgressPercent(5, 5, 9), 0u);
  EXPECT_EQ(ProgressPercent(20, 10, 15), 0u) << "reversed bounds clamp to the upper one";
}

TEST(ProgressPercentTest, LargeRangesDoNotOverflow) {
  // 42949671 * 100 still fits 32 bits; from 42949672 on the range is divided first.
  EXPECT_EQ(ProgressPercent(0, 42949671u, 42949671u), 100u);
  EXPECT_EQ(ProgressPercent(0, 42949672u, 21474836u), 50u);
  EXPECT_EQ(ProgressPercent(0, 0xFFFFFFFFu, 0xFFFFFFFFu), 100u);
  EXPECT_EQ(ProgressPercent(0, 0xFFFFFFFFu, 0x7FFFFFFFu), 50u);
  EXPECT_EQ(ProgressPercent(0, 0xFFFFFFFFu, 42949671u), 0u) << "below one hundredth of the range";
}

TEST(ProgressPercentTest, FilledWidth) {
  EXPECT_EQ(FilledWidth(200, 0, 100, 50), 100);
  EXPECT_EQ(FilledWidth(200, 0, 3, 1), 66);
  EXPECT_EQ(FilledWidth(200, 0, 0, 0), 0);
  EXPECT_EQ(FilledWidth(200, 0, 100, 1000), 200);
}

TEST(DeviceWaitTest, EndsOnTheFirstTickAtOrBeyondTheLimit) {
  DeviceWait w(30000, 0xFFFFF000u);  // start just before the tick count wraps
  uint32_t pos = 0;
  ASSERT_TRUE(w.Tick(0xFFFFF000u + 1000, pos));
  EXPECT_EQ(pos, 1000u);
  ASSERT_TRUE(w.Tick(0xFFFFF000u + 29999, pos));
  EXPECT_EQ(pos, 29999u);
  EXPECT_FALSE(w.Tick(0xFFFFF000u + 30000, pos));
  EXPECT_FALSE(w.Tick(0xFFFFF000u + 31000, pos));
}
