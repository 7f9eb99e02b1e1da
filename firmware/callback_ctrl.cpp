#include "firmware/callback_ctrl.h"

#include <map>
#include <new>

#include "platform/lock.h"
#include "runtime/syncwnd.h"

namespace qs::fw {

namespace {

// Registered once per window class; both give the same number.
const uint32_t g_message = plat::RegisterNotifyMessage("__VqProgrammerEx_SyncMsg__");

using Queue = NotifyQueue<ProgrammerNotification>;

struct Ctrl {
  plat::RecursiveLock lock;
  Ref<Queue> queue;
  std::map<uint32_t, Ref<IStreamListener>> listeners;
};

Ctrl& C() {
  static Ctrl* c = new Ctrl;  // outlives static destructors
  return *c;
}

// On the host thread, inside its window procedure: nothing may escape.
void DeliverRecord(void*, ProgrammerNotification& n) {
  try {
    Ref<IStreamListener> l;
    {
      plat::ScopedLock lock(C().lock);
      auto it = C().listeners.find(n.job);
      if (it == C().listeners.end()) return;
      l = it->second;
    }
    l->OnStreamNotification(n);
  } catch (...) {
    // out of memory: the record is lost; the update job's time-out covers it
  }
}

class CallbackCtrlSyncWnd : public QueueSyncWnd<ProgrammerNotification> {
 public:
  CallbackCtrlSyncWnd() : QueueSyncWnd(g_message, &DeliverRecord, nullptr) {}
};

}  // namespace

bool CreateCallbackCtrlWindow(plat::HostWindow host) {
  auto* w = new (std::nothrow) CallbackCtrlSyncWnd;
  if (!w) return false;
  if (!w->Create(host, "KVxR_CallbackCtrl_SyncWnd")) {
    delete w;
    return false;
  }
  plat::ScopedLock l(C().lock);
  C().queue = w->queue();
  return true;
}

void RegisterStreamListener(uint32_t job, IStreamListener* listener) {
  plat::ScopedLock l(C().lock);
  C().listeners[job] = listener;
}

void UnregisterStreamListener(uint32_t job) {
  Ref<IStreamListener> old;  // released outside the lock
  plat::ScopedLock l(C().lock);
  auto it = C().listeners.find(job);
  if (it == C().listeners.end()) return;
  old = std::move(it->second);
  C().listeners.erase(it);
}

bool PostStreamNotification(const ProgrammerNotification& n) {
  Ref<Queue> q;
  {
    plat::ScopedLock l(C().lock);
    q = C().queue;
  }
  return q && q->Push(n);
}

}  // namespace qs::fw
