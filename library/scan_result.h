// The device table of one scan. Pooled threads report device records into it;
// each new device reaches the caller's device callback on the host thread
// through the result's own notification window. The exports look devices up
// here by handle.
#pragma once
#include <cstdint>
#include <map>

#include "library/KV-xR_update.h"
#include "library/device_record.h"
#include "platform/lock.h"
#include "platform/notify.h"
#include "runtime/rc.h"

namespace qs::kvxr {

struct IScanResult : IRefCounted {
  // Any thread. finished: the scan has ended (the window closes once what
  // was reported before has been delivered). Otherwise stores a copy of the
  // record under a new handle and queues it for the window. Reports travel
  // in one message at a time; when the host's queue refuses it they wait and
  // go with the next one (or see Flush, and RunStalledNotifications).
  virtual void Report(bool finished, const DeviceRecord& record) = 0;
  // Any thread: retries a refused post for up to budgetMs; true when nothing
  // is left waiting for a message.
  virtual bool Flush(uint32_t budgetMs) = 0;
  // Reports that never reached the window because it had gone.
  virtual uint64_t Undelivered() = 0;
  // Host thread: the device of the handle to the device callback.
  virtual void Deliver(int32_t handle) = 0;
  virtual void OnFinished() = 0;
  virtual void OnWindowDestroyed() = 0;
  virtual bool Find(int32_t handle, DeviceRecord* out) = 0;
  // Calls fn for every device in handle order with the table's lock held; the
  // lock admits re-entry, so fn may look devices up.
  virtual void Enumerate(KVxR_DeviceCallback fn) = 0;
};

// A result bound to the device callback, with its window made as a child of
// the host; null when the window cannot be made. The caller gets the first
// reference.
IScanResult* CreateScanResult(KVxR_DeviceCallback onDevice, plat::HostWindow host);

// The message the result windows carry ("__KVxR_ScanResultNotify__").
uint32_t ScanResultMessage();

// The last handle given out (process-wide; 0 before the first).
int32_t LastDeviceHandle();

}  // namespace qs::kvxr
