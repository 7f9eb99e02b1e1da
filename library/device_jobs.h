// Starting a job behind the exports for a device of the current scan: the
// update job (programmer_ex.h) that reboots the unit into its boot loader and
// then writes firmware, or reads or erases its product data. The job enters
// the update registry (update_registry.h) with the handle and the callback
// its records go to (none: nobody hears of it) before it runs.
#pragma once
#include <cstdint>

#include "firmware/programmer_ex.h"
#include "library/KV-xR_update.h"
#include "library/device_record.h"

namespace qs::kvxr {

struct DeviceJob {
  fw::StreamWork work = fw::StreamWork::Firmware;
  Ref<fw::IBinaryImage> image;
  bool productData = false;
  Ref<fw::ProductDataBuffer> buffer;
};

// Firmware of version 0.200 and later looks after the product data: its job
// checks (and migrates) the product record before programming.
inline bool WantsProductData(uint32_t major, uint32_t minor) { return !(major == 0 && minor < 200); }

// Initialises the library and copies the record of the handle for a job that
// takes the device into its boot loader: KVXR_OK, KVXR_IN_RECOVERY (refused
// while recovery mode is on) or KVXR_UNKNOWN_DEVICE.
int32_t LookUpForDeviceJob(int32_t handle, DeviceRecord* out);

// KVXR_OK once the job runs; -102 when it could not be made or started (also
// without a host window or a RAM program, since nothing could be reported or
// no boot loader served).
int32_t StartDeviceJob(const DeviceRecord& r, int32_t handle, const DeviceJob& wanted, KVxR_UpdateCallback cb);

}  // namespace qs::kvxr
