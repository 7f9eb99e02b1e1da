// Product data of a device of the current scan: read the 512-byte area (the
// callback gets it when the read job has ended, whatever its outcome) or erase
// the product record. Both run the update job's way into the boot loader and
// back; both are refused while recovery mode is on.
#include "library/KV-xR_update.h"
#include "library/device_jobs.h"
#include "library/library_state.h"
#include "library/product_data_reads.h"

using namespace qs::kvxr;

namespace {

constexpr int32_t kNotCreated = -102;
constexpr int32_t kRefusedInRecovery = -103;

int32_t StartRead(int32_t handle, KVxR_ProductDataCallback cb) {
  EnsureInitialised();
  if (RecoveryModeOn()) return kRefusedInRecovery;
  DeviceRecord r;
  int32_t st = LookUpDevice(handle, &r);
  if (st != kOk) return st;
  DeviceJob spec;
  spec.work = qs::fw::StreamWork::ReadProductData;
  spec.buffer = qs::fw::NewProductDataBuffer();
  if (!spec.buffer || !AddProductDataRead(handle, spec.buffer.get(), cb)) return kNotCreated;
  st = StartDeviceJob(r, handle, spec, &OnProductDataRecord);
  if (st != kOk) RemoveProductDataRead(handle);
  return st;
}

int32_t StartErase(int32_t handle) {
  EnsureInitialised();
  if (RecoveryModeOn()) return kRefusedInRecovery;
  DeviceRecord r;
  int32_t st = LookUpDevice(handle, &r);
  if (st != kOk) return st;
  DeviceJob spec;
  spec.work = qs::fw::StreamWork::EraseProductData;
  return StartDeviceJob(r, handle, spec, nullptr);  // its end reaches nobody
}

}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_DbgReadProductData(int32_t device, KVxR_ProductDataCallback cb) {
  try {
    return StartRead(device, cb);
  } catch (...) {
    RemoveProductDataRead(device);
    return kNotCreated;
  }
}

KVXR_API int32_t KVXR_CALL KVxR_DbgEraseProductData(int32_t device) {
  try {
    return StartErase(device);
  } catch (...) {
    return kNotCreated;
  }
}
}
