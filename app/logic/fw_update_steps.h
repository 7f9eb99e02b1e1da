// The firmware update dialog without its window: what the library's update
// events, the device reports and the dialog's timers do to the bar, the
// buttons and the dialog's end. The dialog feeds events in and copies the
// view out after each one.
//
// The library ends every update with one event 4 carrying the final status
// (1 written, 0 already up to date, negative an error): only a status of 0 or
// more counts as success. There is no guard timer: the library bounds every
// wait itself, and a guard that gave up before it would hide the outcome.
#pragma once
#include <cstdint>

namespace qs::app {

// The dialog's timers; their ids are the dialog's timer ids.
enum FwTimer : int {
  kFwScanTimer = 2,  // every 3000 ms while waiting: scan again
  kFwTickTimer = 3,  // every 1000 ms while waiting: the bar climbs, 30 ticks give up
  kFwSeenTimer = 4,  // once, 1000 ms after the device was seen: end
};
constexpr uint32_t kFwScanMs = 3000;
constexpr uint32_t kFwTickMs = 1000;
constexpr uint32_t kFwSeenMs = 1000;
constexpr int kFwWaitTicks = 30;

// RunFirmwareUpdate's results.
enum FwResult : int {
  kFwNotEnded = 0,
  kFwUpdatedAndSeen = 1,
  kFwNotUpdated = 2,
  kFwUpdatedNotSeen = 3,
};

enum class FwBarText { None, Percent, Failed };

struct FwUpdateView {
  uint32_t lower = 0;
  uint32_t upper = 100;
  uint32_t position = 0;
  FwBarText text = FwBarText::None;
  bool updateEnabled = true;
  bool closeEnabled = true;
  bool timer[5] = {};  // indexed by FwTimer
};

class FwUpdateSteps {
 public:
  enum Step : int { kIdle = -1, kUpdating = 0, kWaiting = 1, kSeen = 2, kEnded = 3 };

  // The library accepted the update: the bar shows a percentage from 0.
  void Started();
  // One update event from the library (ignored unless updating).
  void OnEvent(int32_t event, int32_t value);
  // The dialog's device was reported again (ignored unless waiting for it).
  void OnDeviceReported();
  void OnTimer(int timer);
  // "&Close": 1 after a successful update, else 2.
  int CloseResult() const { return finished_ && succeeded_ ? kFwUpdatedAndSeen : kFwNotUpdated; }

  const FwUpdateView& view() const { return view_; }
  Step step() const { return step_; }
  bool finished() const { return finished_; }
  bool succeeded() const { return succeeded_; }
  // The library's final status once finished (0 when a failure came without one).
  int32_t status() const { return status_; }
  // Set when the dialog should end, with its result.
  int endResult() const { return end_; }
  // Scans asked for since the last call; the dialog runs them.
  int TakeScans() {
    int n = scans_;
    scans_ = 0;
    return n;
  }

 private:
  void Advance();
  void Fail(int32_t status);
  void ApplyButtons();

  FwUpdateView view_;
  Step step_ = kIdle;
  bool finished_ = false;
  bool succeeded_ = false;
  int32_t status_ = 0;
  int ticks_ = 0;
  int scans_ = 0;
  int end_ = kFwNotEnded;
};

}  // namespace qs::app
