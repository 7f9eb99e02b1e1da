// The host the library needs, for tests: a real visible top-level window with
// a message loop on Windows; the library's own dispatcher on Linux.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/notify.h"

namespace qs::kvxr {
class LibraryHost;
}

namespace qs::test {

// The one host of the test program (library/library_host.h).
kvxr::LibraryHost& Host();

// Opens the host on the calling thread (which must then pump). Windows: a
// visible top-level window; Linux: the library's host, which is this thread.
bool OpenHost();
// Windows: destroys the window (and with it the library's windows).
// Linux: the library's host goes away the same way.
void CloseHost();
// true where closing the host reaches the library under test (Windows: the
// window is shared by the process; Linux: only the statically linked core).
bool HostCloseReachesLibrary();
// The host window (Windows) or the library's host (Linux).
plat::HostWindow HostHandle();
// Runs notifications on this thread for ms, or until *until is true.
void Pump(uint32_t ms, const std::atomic<bool>* until = nullptr);

}  // namespace qs::test
