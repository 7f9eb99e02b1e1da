// Product data of a device of the current scan: read the 512-byte area (the
// callback gets it when the read job has ended, whatever its outcome) or erase
// the product record. Both run the update job's way into the boot loader and
// back; both are refused while recovery mode is on.
#include "library/KV-xR_update.h"
#include "library/device_jobs.h"
#include "library/fence.h"
#include "library/library_state.h"
#include "library/product_data_reads.h"

using namespace qs::kvxr;

namespace {

int32_t StartRead(int32_t handle, KVxR_ProductDataCallback cb) {
  DeviceRecord r;
  int32_t st = LookUpForDeviceJob(handle, &r);
  if (st != KVXR_OK) return st;
  DeviceJob job;
  job.work = qs::fw::StreamWork::ReadProductData;
  job.buffer = qs::fw::NewProductDataBuffer();
  if (!job.buffer || !AddProductDataRead(handle, job.buffer.get(), cb)) return KVXR_NOT_CREATED;
  st = StartDeviceJob(r, handle, job, &OnProductDataRecord);
  if (st != KVXR_OK) RemoveProductDataRead(handle);
  return st;
}

int32_t StartErase(int32_t handle) {
  DeviceRecord r;
  int32_t st = LookUpForDeviceJob(handle, &r);
  if (st != KVXR_OK) return st;
  DeviceJob job;
  job.work = qs::fw::StreamWork::EraseProductData;
  return StartDeviceJob(r, handle, job, nullptr);  // its end reaches nobody
}

}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_DbgReadProductData(int32_t device, KVxR_ProductDataCallback cb) {
  bool ended = false;
  int32_t st = Fenced(KVXR_NOT_CREATED, [&] {
    int32_t r = StartRead(device, cb);
    ended = true;
    return r;
  });
  // A read cut short by the fence leaves no entry behind.
  if (!ended) Fenced([&] { RemoveProductDataRead(device); });
  return st;
}

KVXR_API int32_t KVXR_CALL KVxR_DbgEraseProductData(int32_t device) {
  return Fenced(KVXR_NOT_CREATED, [&] { return StartErase(device); });
}
}
