#include "discovery/full_scan.h"

#include "platform/sha1.h"
#include "platform/tick.h"

namespace qs::disc {

namespace {

// The done callback carries no context and runs on a library thread.
std::atomic<bool> g_libraryDone{false};

void OnLibraryDone() { g_libraryDone.store(true); }

}  // namespace

FullScanResult ScanToEnd(DeviceManager& manager, const FullScanOptions& options, RunNotificationsFn run,
                         void* context) {
  FullScanResult r;
  const uint32_t start = plat::TickCount();
  g_libraryDone.store(false);
  // The digest provider sets itself up on first use; doing that here keeps its
  // one-time state on this thread rather than on a library pool thread that
  // lives until exit.
  uint8_t digest[plat::kSha1Size];
  plat::Sha1Digest("", 0, digest);
  SetDiscoveryModeFlag(options.discoveryMode);
  SetLibraryDoneCallback(OnLibraryDone);
  manager.ClearDevices();
  manager.Scan();
  r.datagrams = manager.lastScan();
  r.libraryStatus = manager.lastLibraryResult();
  if (r.libraryStatus == KVXR_OK && run) {
    run(options.libraryWaitMs, &g_libraryDone, context);
    r.libraryEnded = g_libraryDone.load();
    run(options.lateLinesMs, nullptr, context);
  }
  SetLibraryDoneCallback(nullptr);
  r.libraryLines = manager.libraryLines();
  r.elapsedMs = plat::TicksSince(start);
  return r;
}

}  // namespace qs::disc
