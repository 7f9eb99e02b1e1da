#include "library/KV-xR_update.h"
#include "library/library_host.h"
#include "platform/tick.h"

namespace qs::kvxr {

bool LibraryHost::Open() { return true; }
void LibraryHost::Close() {}

void LibraryHost::Run(uint32_t ms, const std::atomic<bool>* until) const {
  const uint32_t start = plat::TickCount();
  for (;;) {
    if (until && until->load()) return;
    uint32_t spent = plat::TicksSince(start);
    if (spent >= ms) return;
    uint32_t left = ms - spent;
    // -1: not the host thread, so nothing will ever arrive here.
    if (KVxR_DispatchNotifications(left < 20 ? left : 20) < 0) return;
  }
}

}  // namespace qs::kvxr
