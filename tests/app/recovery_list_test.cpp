// The recovery dialog's rows, driven by recovery events as the library sends them.
#include <gtest/gtest.h>

#include "app/logic/recovery_list.h"

using namespace qs::app;

namespace {
const std::u16string kUnitA = u"10.71.8.1|02:00:00:00:01:30";
const std::u16string kUnitB = u"10.72.8.9|02:00:00:00:01:31";
}  // namespace

TEST(RecoveryListTest, DescriptionsAreReadStrictly) {
  uint32_t a = 0;
  uint8_t mac[6] = {};
  ASSERT_TRUE(ParseRecoveryDescription(kUnitA, a, mac));
  EXPECT_EQ(a, 0x0A470801u);
  EXPECT_EQ(mac[0], 0x02);
  EXPECT_EQ(mac[5], 0x30);
  EXPECT_TRUE(ParseRecoveryDescription(u"10.71.8.1|0a:0b:0c:0d:0e:ff", a, mac));
  EXPECT_EQ(mac[5], 0xFF);
  for (std::u16string bad : {u"10.71.8.1|02-00-00-00-01-30", u"10.71.8|02:00:00:00:01:30", u"10.71.8.256|02:00:00:00:01:30",
                             u"10.71.8.1 02:00:00:00:01:30", u"10.71.8.1|02:00:00:00:01", u"10.71.8.1|02:00:00:00:01:30:",
                             u"", u"10.71.8.1|02:00:00:00:01:3g", u"10.71.8.1|02:00:00:00:01:30 with a long tail"}) {
    EXPECT_FALSE(ParseRecoveryDescription(bad, a, mac)) << std::string(bad.begin(), bad.end());
  }
  // A character beyond ASCII never passes for the one its low byte spells.
  std::u16string wide = kUnitA;
  wide[0] = static_cast<char16_t>(0x0131);
  EXPECT_FALSE(ParseRecoveryDescription(wide, a, mac));
}

TEST(RecoveryListTest, OneRowPerUnitInArrivalOrder) {
  RecoveryList l;
  RecoveryChange c = l.OnEvent(7, kUnitA, 1, 0);
  EXPECT_EQ(c.added, 0);
  EXPECT_TRUE(c.hideHint);
  c = l.OnEvent(8, kUnitB, 1, 0);
  EXPECT_EQ(c.added, 1);
  c = l.OnEvent(9, u"10.71.8.1|02-00-00-00-01-30", 1, 0);
  EXPECT_EQ(c.added, -1);
  EXPECT_FALSE(c.hideHint) << "an unreadable description is dropped";
  ASSERT_EQ(l.rows().size(), 2u);
  EXPECT_EQ(l.rows()[0].handle, 7);
  EXPECT_EQ(l.rows()[1].address, 0x0A480809u);
  EXPECT_FALSE(l.rows()[0].checked);
  EXPECT_EQ(RecoveryList::VersionText(l.rows()[0]), "");

  // Events for a number without a row change nothing.
  c = l.OnEvent(99, u"", 3, 0);
  EXPECT_EQ(c.changed, -1);
}

TEST(RecoveryListTest, AUnitReportedAgainKeepsItsRowWithItsNewestNumber) {
  RecoveryList l;
  l.OnEvent(7, kUnitA, 1, 0);
  l.OnEvent(7, u"", 3, 0);
  // The same unit on another interface: the library now answers only number 12.
  RecoveryChange c = l.OnEvent(12, u"10.72.8.1|02:00:00:00:01:30", 1, 0);
  EXPECT_EQ(c.added, -1);
  EXPECT_EQ(c.changed, 0);
  EXPECT_TRUE(c.hideHint);
  ASSERT_EQ(l.rows().size(), 1u);
  EXPECT_EQ(l.rows()[0].handle, 12);
  EXPECT_EQ(l.rows()[0].address, 0x0A480801u);
  EXPECT_FALSE(l.rows()[0].ready) << "not ready until the library says so for the new number";
  EXPECT_EQ(l.OnEvent(7, u"", 3, 0).changed, -1);
  EXPECT_EQ(l.OnEvent(12, u"", 3, 0).changed, 0);

  // A unit recovered once that falls back into its boot loader can be recovered again.
  l.SetChecked(0, true);
  ASSERT_EQ(l.StartRecover(), std::vector<int32_t>{12});
  l.OnEvent(12, u"", 5, 0);
  EXPECT_TRUE(l.rows()[0].done);
  EXPECT_EQ(l.NotDoneCount(), 0u);
  l.OnEvent(20, kUnitA, 1, 0);
  EXPECT_FALSE(l.rows()[0].done);
  EXPECT_EQ(l.rows()[0].status, "");
  EXPECT_EQ(l.NotDoneCount(), 1u);

  // While it is being programmed, a new report does not take the row over.
  l.OnEvent(20, u"", 3, 0);
  l.SetChecked(0, true);
  l.StartRecover();
  l.OnEvent(21, kUnitA, 1, 0);
  EXPECT_EQ(l.rows()[0].handle, 20);
  EXPECT_TRUE(l.rows()[0].programming);
}

TEST(RecoveryListTest, StatusTextsFollowTheEvents) {
  RecoveryList l;
  l.OnEvent(7, kUnitA, 1, 0);
  l.OnEvent(7, u"", 2, 40);
  EXPECT_EQ(l.rows()[0].status, "Preparing ...(40%)");
  l.OnEvent(7, u"", 3, 0);
  EXPECT_EQ(l.rows()[0].status, "Ready to program");
  EXPECT_TRUE(l.rows()[0].ready);
  l.OnEvent(7, u"", 4, 55);
  EXPECT_EQ(l.rows()[0].status, "In progress(55%)...");
  l.OnEvent(7, u"", 7, -9);
  EXPECT_EQ(l.rows()[0].status, "Error! (-9)");
  EXPECT_FALSE(l.rows()[0].done);
  EXPECT_FALSE(l.rows()[0].ready);
  l.OnEvent(7, u"", 6, 0);
  EXPECT_EQ(l.rows()[0].status, "Already up-to-date.");
  EXPECT_TRUE(l.rows()[0].done);
  l.OnEvent(7, u"", 5, 1);
  EXPECT_EQ(l.rows()[0].status, "Finished!");
  EXPECT_EQ(l.OnEvent(7, u"", 8, 0).changed, -1) << "unknown events are ignored";
}

TEST(RecoveryListTest, RecoverNeedsATickedReadyUnitAndTheBatchEndClearsTheTicks) {
  RecoveryList l;
  l.OnEvent(1, kUnitA, 1, 0);
  l.OnEvent(2, kUnitB, 1, 0);
  l.SetChecked(0, true);
  EXPECT_EQ(l.RecoverableCount(), 0u) << "ticked but not ready";
  l.OnEvent(1, u"", 3, 0);
  EXPECT_EQ(l.RecoverableCount(), 1u);
  l.OnEvent(2, u"", 3, 0);
  EXPECT_EQ(l.RecoverableCount(), 1u) << "ready but not ticked";
  l.SetChecked(1, true);
  l.SetChecked(5, true);  // no such row
  EXPECT_EQ(l.RecoverableCount(), 2u);

  EXPECT_EQ(l.StartRecover(), (std::vector<int32_t>{1, 2}));
  l.Refused(2);
  EXPECT_FALSE(l.rows()[1].programming);
  EXPECT_TRUE(l.rows()[0].programming);
  RecoveryChange c = l.OnEvent(1, u"", 5, 1);
  EXPECT_TRUE(c.batchEnded) << "the refused one is not programming";
  EXPECT_FALSE(l.rows()[0].checked);
  EXPECT_FALSE(l.rows()[1].checked);
  EXPECT_EQ(l.RecoverableCount(), 0u);
}

TEST(RecoveryListTest, TheBatchEndsOnlyWhenTheLastProgrammingUnitEnds) {
  RecoveryList l;
  l.OnEvent(1, kUnitA, 1, 0);
  l.OnEvent(2, kUnitB, 1, 0);
  l.OnEvent(1, u"", 3, 0);
  l.OnEvent(2, u"", 3, 0);
  l.SetChecked(0, true);
  l.SetChecked(1, true);
  l.StartRecover();
  EXPECT_FALSE(l.OnEvent(2, u"", 7, -24).batchEnded);
  EXPECT_TRUE(l.rows()[0].checked);
  EXPECT_TRUE(l.OnEvent(1, u"", 6, 0).batchEnded);
  EXPECT_FALSE(l.rows()[0].checked);
}

TEST(RecoveryListTest, RecoverAgainWhileAUnitIsProgrammedLeavesIt) {
  RecoveryList l;
  l.OnEvent(1, kUnitA, 1, 0);
  l.OnEvent(2, kUnitB, 1, 0);
  l.OnEvent(1, u"", 3, 0);
  l.SetChecked(0, true);
  ASSERT_EQ(l.StartRecover(), std::vector<int32_t>{1});
  EXPECT_EQ(l.RecoverableCount(), 0u) << "the ticked unit is being programmed";
  // Another unit becomes ready and is ticked: only it is resumed.
  l.OnEvent(2, u"", 3, 0);
  l.SetChecked(1, true);
  EXPECT_EQ(l.RecoverableCount(), 1u);
  EXPECT_EQ(l.StartRecover(), std::vector<int32_t>{2});
  EXPECT_TRUE(l.rows()[0].programming);
  // The first one's end does not end the batch while the second programs.
  EXPECT_FALSE(l.OnEvent(1, u"", 5, 1).batchEnded);
  EXPECT_TRUE(l.rows()[1].checked);
  EXPECT_TRUE(l.OnEvent(2, u"", 5, 1).batchEnded);
}

TEST(RecoveryListTest, ExitCountsEveryUnitNotRecovered) {
  RecoveryList l;
  EXPECT_EQ(l.NotDoneCount(), 0u);
  l.OnEvent(1, kUnitA, 1, 0);
  l.OnEvent(2, kUnitB, 1, 0);
  l.OnEvent(3, u"10.71.8.3|02:00:00:00:01:32", 1, 0);
  l.OnEvent(1, u"", 5, 1);
  l.OnEvent(2, u"", 6, 0);
  EXPECT_EQ(l.NotDoneCount(), 1u);
  l.OnEvent(3, u"", 7, -18);
  EXPECT_EQ(l.NotDoneCount(), 1u) << "an error is not recovered";
}
