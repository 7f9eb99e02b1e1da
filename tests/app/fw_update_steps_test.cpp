// The firmware update dialog's steps, driven by library events, device
// reports and timer ticks as the dialog receives them.
#include <gtest/gtest.h>

#include "app/logic/fw_update_steps.h"
#include "app/logic/progress.h"

using namespace qs::app;

namespace {
uint32_t Percent(const FwUpdateSteps& s) {
  return ProgressPercent(s.view().lower, s.view().upper, s.view().position);
}
}  // namespace

TEST(FwUpdateStepsTest, BarFollowsTheCountdownAndTheWrite) {
  FwUpdateSteps s;
  EXPECT_TRUE(s.view().updateEnabled);
  EXPECT_TRUE(s.view().closeEnabled);
  s.Started();
  EXPECT_EQ(s.step(), FwUpdateSteps::kUpdating);
  EXPECT_FALSE(s.view().updateEnabled);
  EXPECT_FALSE(s.view().closeEnabled);
  EXPECT_EQ(s.view().text, FwBarText::Percent);

  s.OnEvent(1, 60);
  EXPECT_EQ(Percent(s), 1u);
  s.OnEvent(1, 1);
  EXPECT_EQ(Percent(s), 29u);
  s.OnEvent(1, 0);  // not above 0: unused
  EXPECT_EQ(Percent(s), 29u);
  s.OnEvent(1, 600);  // beyond the countdown's start reads as its start
  EXPECT_EQ(Percent(s), 1u);
  s.OnEvent(3, 0);
  EXPECT_EQ(Percent(s), 30u);
  s.OnEvent(3, 100);
  EXPECT_EQ(Percent(s), 69u);
  s.OnEvent(3, 250);
  EXPECT_EQ(Percent(s), 69u);
  s.OnEvent(9, 5);  // unknown events change nothing
  EXPECT_EQ(Percent(s), 69u);
  EXPECT_EQ(s.step(), FwUpdateSteps::kUpdating);
}

TEST(FwUpdateStepsTest, SuccessWaitsForTheDeviceThenEndsWithOneAfterASecond) {
  for (int32_t status : {1, 0}) {
    FwUpdateSteps s;
    s.Started();
    s.OnEvent(4, status);
    EXPECT_TRUE(s.finished());
    EXPECT_TRUE(s.succeeded());
    EXPECT_EQ(s.status(), status);
    EXPECT_EQ(s.step(), FwUpdateSteps::kWaiting);
    EXPECT_EQ(Percent(s), 70u);
    EXPECT_EQ(s.TakeScans(), 1) << "a scan at once";
    EXPECT_TRUE(s.view().timer[kFwScanTimer]);
    EXPECT_TRUE(s.view().timer[kFwTickTimer]);
    EXPECT_FALSE(s.view().updateEnabled);

    s.OnTimer(kFwTickTimer);
    EXPECT_EQ(Percent(s), 71u);
    s.OnTimer(kFwScanTimer);
    EXPECT_EQ(s.TakeScans(), 1);
    s.OnEvent(3, 50);  // late library events no longer move the bar
    EXPECT_EQ(Percent(s), 71u);

    s.OnDeviceReported();
    EXPECT_EQ(s.step(), FwUpdateSteps::kSeen);
    EXPECT_EQ(Percent(s), 100u);
    EXPECT_FALSE(s.view().timer[kFwScanTimer]);
    EXPECT_FALSE(s.view().timer[kFwTickTimer]);
    EXPECT_TRUE(s.view().timer[kFwSeenTimer]);
    EXPECT_EQ(s.endResult(), kFwNotEnded);
    s.OnDeviceReported();  // a second report does not end it early
    EXPECT_EQ(s.endResult(), kFwNotEnded);
    s.OnTimer(kFwSeenTimer);
    EXPECT_EQ(s.endResult(), kFwUpdatedAndSeen);
    EXPECT_FALSE(s.view().timer[kFwSeenTimer]);
  }
}

TEST(FwUpdateStepsTest, ThirtySecondsWithoutTheDeviceEndWithThree) {
  FwUpdateSteps s;
  s.Started();
  s.OnEvent(4, 1);
  for (int i = 1; i < kFwWaitTicks; ++i) {
    s.OnTimer(kFwTickTimer);
    ASSERT_EQ(Percent(s), static_cast<uint32_t>(70 + i));
    ASSERT_EQ(s.endResult(), kFwNotEnded);
  }
  EXPECT_EQ(Percent(s), 99u);
  s.OnTimer(kFwTickTimer);
  EXPECT_EQ(s.endResult(), kFwUpdatedNotSeen);
  EXPECT_FALSE(s.view().timer[kFwTickTimer]);
  EXPECT_FALSE(s.view().timer[kFwScanTimer]);
  s.OnDeviceReported();  // too late
  EXPECT_EQ(s.endResult(), kFwUpdatedNotSeen);
}

TEST(FwUpdateStepsTest, AFailureKeepsItsStatusAndLetsTheUserTryAgain) {
  FwUpdateSteps s;
  s.Started();
  s.OnEvent(1, 30);
  s.OnEvent(4, -18);
  EXPECT_TRUE(s.finished());
  EXPECT_FALSE(s.succeeded());
  EXPECT_EQ(s.status(), -18);
  EXPECT_EQ(s.step(), FwUpdateSteps::kIdle);
  EXPECT_EQ(s.view().text, FwBarText::Failed);
  EXPECT_EQ(s.view().upper, 0u);
  EXPECT_EQ(Percent(s), 0u);
  EXPECT_TRUE(s.view().updateEnabled);
  EXPECT_TRUE(s.view().closeEnabled);
  EXPECT_EQ(s.TakeScans(), 0);
  EXPECT_EQ(s.CloseResult(), kFwNotUpdated);

  // Events of the kinds the library does not send fail as well, without a status.
  s.Started();
  EXPECT_FALSE(s.finished());
  EXPECT_EQ(s.view().text, FwBarText::Percent);
  EXPECT_EQ(s.view().upper, 100u);
  s.OnEvent(5, 0);
  EXPECT_FALSE(s.succeeded());
  EXPECT_EQ(s.status(), 0);

  // The second try succeeds: "&Update" stays off, "&Close" ends with 1.
  s.Started();
  s.OnEvent(4, 1);
  s.OnDeviceReported();
  EXPECT_EQ(s.CloseResult(), kFwUpdatedAndSeen);
}

TEST(FwUpdateStepsTest, ReportsOutsideTheWaitAreIgnored) {
  FwUpdateSteps s;
  s.OnDeviceReported();  // idle: a scan of before the update
  EXPECT_EQ(s.step(), FwUpdateSteps::kIdle);
  EXPECT_FALSE(s.finished());
  s.Started();
  s.OnDeviceReported();  // updating: the device still runs its old firmware
  EXPECT_EQ(s.step(), FwUpdateSteps::kUpdating);
  EXPECT_FALSE(s.finished());
  s.OnEvent(3, 40);
  EXPECT_EQ(Percent(s), 45u);
  // Nothing gives up on a long update: only the library's end ends it.
  for (int i = 0; i < 300; ++i) s.OnTimer(kFwTickTimer);
  EXPECT_EQ(s.step(), FwUpdateSteps::kUpdating);
  EXPECT_FALSE(s.view().closeEnabled);
  s.OnEvent(4, 1);
  EXPECT_EQ(s.step(), FwUpdateSteps::kWaiting);
}

TEST(FwUpdateStepsTest, CloseBeforeAnyUpdateEndsWithTwo) {
  FwUpdateSteps s;
  EXPECT_EQ(s.CloseResult(), kFwNotUpdated);
}
