#include "tests/library/test_host.h"

namespace qs::test {

// Ends the host of the library linked into this program (the static core in
// unit tests; for the shared library this only touches the program's own copy).
void CloseHost() { plat::DestroyHost(plat::FindHostWindow()); }
bool HostCloseReachesLibrary() { return false; }
plat::HostWindow HostHandle() { return plat::FindHostWindow(); }

}  // namespace qs::test
