#include <signal.h>

#include <atomic>

#include "cli/support_interrupt.h"

namespace qs::cli {

namespace {
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnSignal(int) { g_interrupted.store(true); }
}  // namespace

void CatchInterrupts() {
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool Interrupted() { return g_interrupted.load(); }

void InterruptHandled() {}

}  // namespace qs::cli
