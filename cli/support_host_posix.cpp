#include "cli/support_host.h"
#include "library/KV-xR_update.h"
#include "platform/tick.h"

namespace qs::cli {

// The library makes its host on the first call; there is no window to open.
bool LibraryHost::Open() { return true; }
void LibraryHost::Close() {}

void LibraryHost::Run(uint32_t ms, const std::atomic<bool>* until) {
  const uint32_t start = plat::TickCount();
  for (;;) {
    if (until && until->load()) return;
    uint32_t spent = plat::TicksSince(start);
    if (spent >= ms) return;
    uint32_t left = ms - spent;
    // -1: not the host thread, so nothing will ever arrive here.
    if (KVxR_DispatchNotifications(left < 50 ? left : 50) < 0) return;
  }
}

}  // namespace qs::cli
