#include "app/logic/fw_update_steps.h"

namespace qs::app {

void FwUpdateSteps::Started() {
  step_ = kUpdating;
  finished_ = false;
  succeeded_ = false;
  status_ = 0;
  view_.lower = 0;
  view_.upper = 100;
  view_.position = 0;
  view_.text = FwBarText::Percent;
  ApplyButtons();
}

void FwUpdateSteps::OnEvent(int32_t event, int32_t value) {
  if (step_ != kUpdating) return;
  switch (event) {
    case 1: {  // seconds left while the device restarts: 1 % to 29 %
      if (value <= 0) return;
      int32_t left = value > 60 ? 60 : value;
      view_.position = static_cast<uint32_t>((60 - left) * 29 / 60 + 1);
      return;
    }
    case 3: {  // written: 30 % to 69 %
      int32_t pct = value < 0 ? 0 : value > 100 ? 100 : value;
      view_.position = static_cast<uint32_t>(pct * 39 / 100 + 30);
      return;
    }
    case 4:  // the end, with the final status
      if (value >= 0) {
        succeeded_ = true;
        status_ = value;
        view_.position = 70;
        Advance();
      } else {
        Fail(value);
      }
      return;
    case 2:
    case 5:
    case 6:
      Fail(0);
      return;
    default:
      return;
  }
}

void FwUpdateSteps::Fail(int32_t status) {
  succeeded_ = false;
  status_ = status;
  view_.position = 0;
  view_.lower = 0;
  view_.upper = 0;
  view_.text = FwBarText::Failed;
  Advance();
}

void FwUpdateSteps::OnDeviceReported() {
  // A report while idle or updating comes from a scan of before the update
  // (or of the old firmware): it says nothing about the outcome.
  if (step_ == kWaiting) Advance();
}

void FwUpdateSteps::OnTimer(int timer) {
  switch (timer) {
    case kFwScanTimer:
      if (step_ == kWaiting) ++scans_;
      return;
    case kFwTickTimer:
      if (step_ != kWaiting) return;
      ++ticks_;
      if (ticks_ < kFwWaitTicks) {
        view_.position = static_cast<uint32_t>(ticks_ + 70);
      } else {
        view_.timer[kFwTickTimer] = false;
        view_.timer[kFwScanTimer] = false;
        step_ = kEnded;
        end_ = kFwUpdatedNotSeen;
      }
      return;
    case kFwSeenTimer:
      view_.timer[kFwSeenTimer] = false;
      if (step_ == kSeen) Advance();
      return;
    default:
      return;
  }
}

void FwUpdateSteps::Advance() {
  switch (step_) {
    case kUpdating:
      finished_ = true;
      step_ = kIdle;
      ApplyButtons();
      if (!succeeded_) return;
      ++scans_;
      view_.timer[kFwScanTimer] = true;
      ticks_ = 0;
      view_.timer[kFwTickTimer] = true;
      step_ = kWaiting;
      ApplyButtons();
      return;
    case kWaiting:
      view_.timer[kFwScanTimer] = false;
      view_.timer[kFwTickTimer] = false;
      view_.position = 100;
      view_.timer[kFwSeenTimer] = true;
      step_ = kSeen;
      return;
    case kSeen:
      step_ = kEnded;
      end_ = kFwUpdatedAndSeen;
      return;
    default:
      return;
  }
}

void FwUpdateSteps::ApplyButtons() {
  if (step_ < 0) {
    view_.updateEnabled = !(finished_ && succeeded_);
    view_.closeEnabled = true;
  } else {
    view_.updateEnabled = false;
    view_.closeEnabled = false;
  }
}

}  // namespace qs::app
