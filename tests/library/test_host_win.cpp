#include "library/library_host.h"
#include "tests/library/test_host.h"

namespace qs::test {

namespace {
// Never destroyed: the window lives until the test closes it or the process ends.
kvxr::LibraryHost& Host() {
  static auto* host = new kvxr::LibraryHost;
  return *host;
}
}  // namespace

bool OpenHost() { return Host().Open(); }
void CloseHost() { Host().Close(); }
bool HostCloseReachesLibrary() { return true; }
plat::HostWindow HostHandle() { return static_cast<plat::HostWindow>(Host().window()); }

void Pump(uint32_t ms, const std::atomic<bool>* until) { Host().Run(ms, until); }

}  // namespace qs::test
