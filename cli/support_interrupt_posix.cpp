#include <signal.h>

#include <atomic>

#include "cli/support_interrupt.h"

namespace qs::cli {

namespace {
std::atomic<bool> g_interrupted{false};
std::atomic<unsigned> g_count{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free,
              "set from a signal handler");

void OnSignal(int) {
  g_count.fetch_add(1);
  g_interrupted.store(true);
}
}  // namespace

void CatchInterrupts() {
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool Interrupted() { return g_interrupted.load(); }

unsigned InterruptCount() { return g_count.load(); }

void InterruptHandled() {}

}  // namespace qs::cli
