// One scan run to its end, for callers without a window loop of their own (the
// console front end): the manager's scan as the program runs it, then the
// library's notifications run on this thread until its scan has ended and
// late version replies had their time.
#pragma once
#include <atomic>
#include <cstdint>

#include "discovery/device_manager.h"

namespace qs::disc {

struct FullScanOptions {
  bool discoveryMode = true;  // off for "--xp"
  // The library scans for 5 s; its done callback is awaited this long at most.
  uint32_t libraryWaitMs = 8000;
  // Version queries answer up to 1 s after an announce, so device lines can
  // follow the done callback.
  uint32_t lateLinesMs = 1500;
};

struct FullScanResult {
  ScanStats datagrams;         // the program's own datagram scan
  LibraryLineCounts libraryLines;  // what the library's scan reported
  int32_t libraryStatus = -1;  // what KVxR_DiscoverDevices answered (0: it ran)
  bool libraryEnded = false;   // its done callback came within the wait
  uint32_t elapsedMs = 0;
};

// Runs the library's notifications on the calling thread for up to ms,
// returning early once *until is true (when until is not null).
using RunNotificationsFn = void (*)(uint32_t ms, const std::atomic<bool>* until, void* context);

// Empties the manager's list, scans, and waits as described above. Without a
// run function nothing of the library is awaited.
FullScanResult ScanToEnd(DeviceManager& manager, const FullScanOptions& options, RunNotificationsFn run,
                         void* context);

}  // namespace qs::disc
