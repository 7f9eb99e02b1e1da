#include <windows.h>

#include <atomic>

#include "cli/support_interrupt.h"

namespace qs::cli {

namespace {
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_handled{false};
std::atomic<unsigned> g_count{0};

// Runs on a thread of its own. A closing console ends the process when this
// returns: give the command a few seconds to undo its work first.
BOOL WINAPI OnConsoleEvent(DWORD kind) {
  g_count.fetch_add(1);
  g_interrupted = true;
  if (kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT)
    for (int i = 0; i < 80 && !g_handled.load(); ++i) Sleep(50);
  return TRUE;
}
}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool Interrupted() { return g_interrupted.load(); }

unsigned InterruptCount() { return g_count.load(); }

void InterruptHandled() { g_handled = true; }

}  // namespace qs::cli
