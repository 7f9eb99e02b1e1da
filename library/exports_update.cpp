// Firmware update: start an update job for a device of the current scan, and
// let go of one. Progress reaches the caller's callback on the host thread.
#include "firmware/firmware_file_state.h"
#include "library/KV-xR_update.h"
#include "library/device_jobs.h"
#include "library/fence.h"
#include "library/library_state.h"
#include "library/update_registry.h"

using namespace qs::kvxr;

namespace {

int32_t StartUpdate(int32_t handle, KVxR_UpdateCallback cb) {
  DeviceRecord r;
  int32_t st = LookUpForDeviceJob(handle, &r);
  if (st != KVXR_OK) return st;
  qs::fw::CurrentFirmware fw = qs::fw::GetCurrentFirmware();
  if (!fw.image) return KVXR_NO_FIRMWARE;
  DeviceJob job;
  job.image = fw.image;
  job.productData = WantsProductData(fw.major, fw.minor);
  return StartDeviceJob(r, handle, job, cb);
}

}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_UpdateFirmware(int32_t device, KVxR_UpdateCallback cb) {
  return Fenced(KVXR_NOT_CREATED, [&] { return StartUpdate(device, cb); });
}

KVXR_API int32_t KVXR_CALL KVxR_AbortUpdate(int32_t device) {
  return Fenced(KVXR_NO_RUNNING_UPDATE, [&]() -> int32_t {
    if (LookUpDevice(device, nullptr) != KVXR_OK) return KVXR_UNKNOWN_DEVICE;
    return AbortUpdateJob(device);
  });
}
}
