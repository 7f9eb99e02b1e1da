#include "platform/event.h"

#include <windows.h>

#include "platform/wait_kinds.h"

namespace qs::plat {

namespace {
HANDLE H(const WaitObject& o) { return reinterpret_cast<HANDLE>(o.native); }
}  // namespace

bool Event::Create(bool manualReset, bool initiallySet) {
  Close();
  HANDLE h = CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr);
  if (!h) return false;
  obj_.native = reinterpret_cast<intptr_t>(h);
  obj_.kind = manualReset ? kKindManualEvent : kKindAutoEvent;
  return true;
}

void Event::Close() {
  if (obj_.valid()) CloseHandle(H(obj_));
  obj_ = WaitObject{};
}

void Event::Set() const {
  if (obj_.valid()) SetEvent(H(obj_));
}

void Event::Reset() const {
  if (obj_.valid()) ResetEvent(H(obj_));
}

bool Event::IsSet() const {
  if (!obj_.valid()) return false;
  if (obj_.kind == kKindAutoEvent) {
    // Waiting would consume it; peek by waiting and setting it again.
    if (WaitForSingleObject(H(obj_), 0) != WAIT_OBJECT_0) return false;
    SetEvent(H(obj_));
    return true;
  }
  return WaitForSingleObject(H(obj_), 0) == WAIT_OBJECT_0;
}

bool Event::Wait(uint32_t ms) const { return WaitAny(&obj_, 1, ms) == 0; }

uint32_t WaitAny(const WaitObject* objects, size_t count, uint32_t timeoutMs) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
  HANDLE hs[MAXIMUM_WAIT_OBJECTS];
  for (size_t i = 0; i < count; ++i) {
    if (!objects[i].valid()) return kWaitFailed;
    hs[i] = H(objects[i]);
  }
  DWORD r = WaitForMultipleObjects(static_cast<DWORD>(count), hs, FALSE, timeoutMs);
  if (r < WAIT_OBJECT_0 + count) return r - WAIT_OBJECT_0;
  if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count) return r - WAIT_ABANDONED_0;
  if (r == WAIT_TIMEOUT) return kWaitTimeout;
  return kWaitFailed;
}

}  // namespace qs::plat
