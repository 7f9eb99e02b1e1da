// Changing a device: network settings, operation mode, reboot. Each export
// blocks its thread until its job ends (bounded by the job's time-out).
#include "library/KV-xR_update.h"
#include "library/config_jobs.h"
#include "library/library_state.h"
#include "library/network_config.h"

using namespace qs::kvxr;

namespace {
// Longest wait a caller can ask of KVxR_SetNetworkCfg; a negative time-out
// is no time at all.
constexpr int32_t kMaxSetConfigMs = 600000;

uint32_t Budget(int32_t ms) { return ms < 0 ? 0u : static_cast<uint32_t>(ms > kMaxSetConfigMs ? kMaxSetConfigMs : ms); }
}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_SetNetworkCfg(int32_t device, const KVxR_WCHAR* text, int32_t timeoutMs) {
  return WithDevice(device, Initialise::Yes, KVXR_SETCFG_NOT_STARTED, [&](const DeviceRecord& r) -> int32_t {
    NetworkSettings s;
    int32_t st = ParseNetworkText(text, &s);
    if (st != KVXR_OK) return st;
    return RunSetConfig(r, s, Budget(timeoutMs), JobLogSink().get());
  });
}

KVXR_API int32_t KVXR_CALL KVxR_WriteOperationMode(int32_t device, int32_t mode) {
  return WithDevice(device, Initialise::Yes, KVXR_SETCFG_NOT_STARTED, [&](const DeviceRecord& r) -> int32_t {
    NetworkSettings s;
    s.dhcp = r.dhcp;
    s.operationMode = static_cast<uint8_t>(mode & 0xFF);
    s.operationModePresent = 1;
    return RunSetConfig(r, s, 1000, JobLogSink().get());
  });
}

KVXR_API int32_t KVXR_CALL KVxR_RebootDevice(int32_t device) {
  return WithDevice(device, Initialise::Yes, KVXR_REBOOT_NOT_STARTED,
                    [&](const DeviceRecord& r) -> int32_t { return RunReboot(r, JobLogSink().get()); });
}
}
