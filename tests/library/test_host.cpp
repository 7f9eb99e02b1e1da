#include "tests/library/test_host.h"

#include "library/library_host.h"

namespace qs::test {

kvxr::LibraryHost& Host() {
  // Never destroyed: the window lives until a test closes it or the process ends.
  static auto* host = new kvxr::LibraryHost;
  return *host;
}

bool OpenHost() { return Host().Open(); }

void Pump(uint32_t ms, const std::atomic<bool>* until) { Host().Run(ms, until); }

}  // namespace qs::test
