#include "library/product_data_reads.h"

#include <map>

#include "firmware/programmer_notification.h"
#include "platform/lock.h"

namespace qs::kvxr {

namespace {

struct Read {
  Ref<fw::ProductDataBuffer> buffer;
  KVxR_ProductDataCallback cb = nullptr;
};

struct Reads {
  plat::RecursiveLock lock;
  std::map<int32_t, Read> byHandle;
};

Reads& R() {
  static Reads* r = new Reads;  // outlives static destructors
  return *r;
}

}  // namespace

bool AddProductDataRead(int32_t handle, fw::ProductDataBuffer* buffer, KVxR_ProductDataCallback cb) {
  plat::ScopedLock l(R().lock);
  return R().byHandle.emplace(handle, Read{buffer, cb}).second;
}

void RemoveProductDataRead(int32_t handle) {
  Read gone;  // released outside the lock
  plat::ScopedLock l(R().lock);
  auto it = R().byHandle.find(handle);
  if (it == R().byHandle.end()) return;
  gone = std::move(it->second);
  R().byHandle.erase(it);
}

void ClearProductDataReads() {
  std::map<int32_t, Read> gone;
  plat::ScopedLock l(R().lock);
  gone.swap(R().byHandle);
}

size_t ProductDataReadCount() {
  plat::ScopedLock l(R().lock);
  return R().byHandle.size();
}

void OnProductDataRecord(int32_t handle, int32_t kind, int32_t) {
  if (kind != fw::kKindEnded) return;  // only the end is passed on
  Read r;
  {
    plat::ScopedLock l(R().lock);
    auto it = R().byHandle.find(handle);
    if (it == R().byHandle.end()) return;
    r = std::move(it->second);
    R().byHandle.erase(it);
  }
  if (r.cb) r.cb(handle, fw::kKindEnded, r.buffer->bytes);
}

}  // namespace qs::kvxr
