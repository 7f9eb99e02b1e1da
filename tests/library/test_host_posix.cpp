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

// The library makes this thread its host on its first call.
bool OpenHost() { return Host().Open(); }
// Ends the host of the library linked into this program (the static core in
// unit tests; for the shared library this only touches the program's own copy).
void CloseHost() { plat::DestroyHost(plat::FindHostWindow()); }
bool HostCloseReachesLibrary() { return false; }
plat::HostWindow HostHandle() { return plat::FindHostWindow(); }

void Pump(uint32_t ms, const std::atomic<bool>* until) { Host().Run(ms, until); }

}  // namespace qs::test
