// Firmware update: start an update job for a device of the current scan, and
// let go of one. Progress reaches the caller's callback on the host thread.
#include "firmware/firmware_file_state.h"
#include "library/KV-xR_update.h"
#include "library/device_jobs.h"
#include "library/library_state.h"
#include "library/update_registry.h"

using namespace qs::kvxr;

namespace {

constexpr int32_t kNoFirmware = -101;
constexpr int32_t kNotCreated = -102;
constexpr int32_t kRefusedInRecovery = -103;

int32_t StartUpdate(int32_t handle, KVxR_UpdateCallback cb) {
  EnsureInitialised();
  if (RecoveryModeOn()) return kRefusedInRecovery;
  DeviceRecord r;
  int32_t st = LookUpDevice(handle, &r);
  if (st != kOk) return st;
  qs::fw::CurrentFirmware fw = qs::fw::GetCurrentFirmware();
  if (!fw.image) return kNoFirmware;
  DeviceJob spec;
  spec.image = fw.image;
  spec.productData = WantsProductData(fw.major, fw.minor);
  return StartDeviceJob(r, handle, spec, cb);
}

}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_UpdateFirmware(int32_t device, KVxR_UpdateCallback cb) {
  try {
    return StartUpdate(device, cb);
  } catch (...) {
    return kNotCreated;
  }
}

KVXR_API int32_t KVXR_CALL KVxR_AbortUpdate(int32_t device) {
  try {
    if (LookUpDevice(device, nullptr) != kOk) return kUnknownDevice;
    return AbortUpdateJob(device);
  } catch (...) {
    return kNoRunningUpdate;
  }
}
}
