// Scanning exports: start a scan, list the current one again, choose where
// the discover request goes, and (Linux) run the notifications on the host
// thread.
#include "library/KV-xR_update.h"
#include "library/fence.h"
#include "library/library_state.h"
#include "library/scan_result.h"
#include "library/scanner.h"

using namespace qs::kvxr;

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_DiscoverDevices(int32_t, KVxR_DeviceCallback onDevice, KVxR_DoneCallback onDone) {
  return Fenced(KVXR_NO_WINDOW, [&]() -> int32_t {
    qs::plat::HostWindow host = EnsureInitialised();
    // Every earlier handle ends here, whether or not the new scan can start.
    SetCurrentScanResult(nullptr);
    if (!host) return KVXR_NO_WINDOW;
    IScanResult* r = CreateScanResult(onDevice, host);
    if (!r) return KVXR_NO_WINDOW;
    SetCurrentScanResult(r);
    StartScan(r, onDone, qs::plat::QueryInterfaces, JobLogSink().get());
    r->Release();
    return KVXR_OK;
  });
}

KVXR_API int32_t KVXR_CALL KVxR_EnumDevices(KVxR_DeviceCallback fn) {
  return Fenced(KVXR_NO_SCAN, [&]() -> int32_t {
    qs::Ref<IScanResult> r = CurrentScanResult();
    if (!r) return KVXR_NO_SCAN;
    r->Enumerate(fn);
    return KVXR_OK;
  });
}

KVXR_API int32_t KVXR_CALL KVxR_SetDiscoveryMode(int32_t mode) {
  return Fenced(KVXR_BAD_DISCOVERY_MODE, [&]() -> int32_t {
    if (mode != 0 && mode != 1) return KVXR_BAD_DISCOVERY_MODE;
    SetDiscoveryModeFlag(static_cast<uint8_t>(mode));
    return KVXR_OK;
  });
}

#ifndef _WIN32
KVXR_API int32_t KVxR_DispatchNotifications(uint32_t timeoutMs) {
  return Fenced(0, [&]() -> int32_t { return qs::plat::DispatchNotifications(timeoutMs); });
}
#endif
}
