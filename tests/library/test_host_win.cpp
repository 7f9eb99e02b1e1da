#include "library/library_host.h"
#include "tests/library/test_host.h"

namespace qs::test {

// The window is the process's, so closing it reaches the library whichever
// way the program links it.
void CloseHost() { Host().Close(); }
bool HostCloseReachesLibrary() { return true; }
plat::HostWindow HostHandle() { return static_cast<plat::HostWindow>(Host().window()); }

}  // namespace qs::test
