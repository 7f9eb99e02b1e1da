// Scanning exports: start a scan, list the current one again, choose where
// the discover request goes, and (Linux) run the notifications on the host
// thread.
#include "library/KV-xR_update.h"
#include "library/library_state.h"
#include "library/scan_result.h"
#include "library/scanner.h"

using namespace qs::kvxr;

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_DiscoverDevices(int32_t, KVxR_DeviceCallback onDevice, KVxR_DoneCallback onDone) {
  qs::plat::HostWindow host = EnsureInitialised();
  // Every earlier handle ends here, whether or not the new scan can start.
  SetCurrentScanResult(nullptr);
  if (!host) return kNoWindow;
  IScanResult* r = CreateScanResult(onDevice, host);
  if (!r) return kNoWindow;
  SetCurrentScanResult(r);
  StartScan(r, onDone, qs::plat::QueryInterfaces, JobLogSink().get());
  r->Release();
  return kOk;
}

KVXR_API int32_t KVXR_CALL KVxR_EnumDevices(KVxR_DeviceCallback fn) {
  qs::Ref<IScanResult> r = CurrentScanResult();
  if (!r) return kUnknownDevice;
  r->Enumerate(fn);
  return kOk;
}

KVXR_API int32_t KVXR_CALL KVxR_SetDiscoveryMode(int32_t mode) {
  if (mode != 0 && mode != 1) return kUnknownDevice;
  SetDiscoveryModeFlag(static_cast<uint8_t>(mode));
  return kOk;
}

#ifndef _WIN32
KVXR_API int32_t KVxR_DispatchNotifications(uint32_t timeoutMs) {
  return qs::plat::DispatchNotifications(timeoutMs);
}
#endif
}
