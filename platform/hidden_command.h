// Windows only (the ARP listing): runs a command line as a new process with a
// hidden console window and waits for it, at most timeoutMs (then the process
// is ended). true when it started and ended with exit code 0. Handles are not
// inherited: the command redirects its own output.
#pragma once
#include <cstdint>
#include <string>

namespace qs::plat {

constexpr uint32_t kHiddenCommandTimeoutMs = 30000;

bool RunHiddenCommand(const std::u16string& commandLine, uint32_t timeoutMs = kHiddenCommandTimeoutMs);

}  // namespace qs::plat
