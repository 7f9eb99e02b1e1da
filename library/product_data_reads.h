// Product-data reads started through KVxR_DbgReadProductData: per device
// handle, the 512-byte buffer the read fills and the caller's callback. The
// read job's records reach OnProductDataRecord (an update callback, through
// the update registry); when the job has ended the caller's callback gets
// (handle, 4, buffer) and the registration goes. One read per handle at a
// time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/product_data.h"
#include "library/KV-xR_update.h"

namespace qs::kvxr {

// false when a read of the handle is still under way.
bool AddProductDataRead(int32_t handle, fw::ProductDataBuffer* buffer, KVxR_ProductDataCallback cb);
void RemoveProductDataRead(int32_t handle);
// Every registration goes without a call (recovery mode stops the jobs).
void ClearProductDataReads();
size_t ProductDataReadCount();

// The read job's records (host thread): kind 4 completes the read.
void OnProductDataRecord(int32_t handle, int32_t kind, int32_t value);

}  // namespace qs::kvxr
