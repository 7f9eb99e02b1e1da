#include "firmware/progress_route.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/lock.h"
#include "runtime/syncwnd.h"

namespace qs::fw {

namespace {

const uint32_t g_message = plat::RegisterNotifyMessage("__VqProgrammerEx_SyncMsg__");

using Queue = NotifyQueue<ProgrammerNotification>;

struct Route {
  plat::RecursiveLock lock;
  Ref<Queue> queue;  // of the current window
  std::vector<WindowListener> listeners;
};

Route& R() {
  static Route* r = new Route;  // outlives static destructors
  return *r;
}

// On the host thread, inside its window procedure: nothing may escape.
void DeliverRecord(void*, ProgrammerNotification& n) {
  try {
    std::vector<WindowListener> listeners;
    {
      plat::ScopedLock l(R().lock);
      listeners = R().listeners;
    }
    for (WindowListener fn : listeners) fn(n);
  } catch (...) {
    // out of memory: the record is lost; the caller's own time-out covers it
  }
}

// One per host window: the ProgrammerEx side's notification window.
class ProgrammerExSyncWnd : public QueueSyncWnd<ProgrammerNotification> {
 public:
  ProgrammerExSyncWnd() : QueueSyncWnd(g_message, &DeliverRecord, nullptr) {}
};

}  // namespace

bool CreateProgressWindow(plat::HostWindow host) {
  auto* w = new (std::nothrow) ProgrammerExSyncWnd;
  if (!w) return false;
  if (!w->Create(host, "KVxR_ProgrammerEx_SyncWnd")) {
    delete w;
    return false;
  }
  plat::ScopedLock l(R().lock);
  R().queue = w->queue();
  return true;
}

void AddWindowListener(WindowListener fn) {
  plat::ScopedLock l(R().lock);
  if (std::find(R().listeners.begin(), R().listeners.end(), fn) == R().listeners.end()) R().listeners.push_back(fn);
}

void RemoveWindowListener(WindowListener fn) {
  plat::ScopedLock l(R().lock);
  auto& v = R().listeners;
  v.erase(std::remove(v.begin(), v.end(), fn), v.end());
}

bool PostProgress(const ProgrammerNotification& n) {
  Ref<Queue> q;
  {
    plat::ScopedLock l(R().lock);
    if (R().listeners.empty()) return false;
    q = R().queue;
  }
  return q && q->Push(n);
}

}  // namespace qs::fw
