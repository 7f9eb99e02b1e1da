#include "library/KV-xR_update.h"
#include "platform/tick.h"
#include "tests/library/test_host.h"

namespace qs::test {

// The library makes this thread its host on its first call.
bool OpenHost() { return true; }
// Ends the host of the library linked into this program (the static core in
// unit tests; for the shared library this only touches the program's own copy).
void CloseHost() { plat::DestroyHost(plat::FindHostWindow()); }
bool HostCloseReachesLibrary() { return false; }
plat::HostWindow HostHandle() { return plat::FindHostWindow(); }

void Pump(uint32_t ms, const std::atomic<bool>* until) {
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

}  // namespace qs::test
