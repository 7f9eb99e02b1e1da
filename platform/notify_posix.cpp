// One host per process and one queue. The host thread is the first thread that
// asks for the host or dispatches; only it runs notifications.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "platform/notify.h"
#include "platform/thread.h"

namespace qs::plat {

namespace {

struct Message {
  NotifyWindow window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

struct NotifyState {
  std::mutex m;
  std::condition_variable posted;
  HostWindow host = 0;
  uint32_t hostThread = 0;
  HostWindow nextHost = 1;
  NotifyWindow nextWindow = 0x100;
  std::map<NotifyWindow, INotifyHandler*> windows;  // ascending = creation order
  std::deque<Message> queue;
  std::map<std::string, uint32_t> messages;
  uint32_t nextMessage = 0xC000;
};

// Never destroyed: windows may be torn down from static destructors.
NotifyState& State() {
  static NotifyState* s = new NotifyState;
  return *s;
}

// Caller holds the lock.
HostWindow EnsureHost(NotifyState& s) {
  if (!s.host) {
    s.host = s.nextHost++;
    s.hostThread = CurrentThreadId();
  }
  return s.host;
}

void DestroyAll(NotifyState& s, HostWindow host) {
  std::map<NotifyWindow, INotifyHandler*> windows;
  {
    std::lock_guard<std::mutex> l(s.m);
    if (!host || host != s.host) return;
    s.host = 0;
    windows.swap(s.windows);
    s.queue.clear();
  }
  for (auto& w : windows) w.second->OnNotifyDestroyed(w.first);
}

// Unloading the library (or the process ending) takes the host with it, as
// closing the host's window does on Windows.
struct UnloadHook {
  ~UnloadHook() {
    NotifyState& s = State();
    HostWindow host;
    {
      std::lock_guard<std::mutex> l(s.m);
      host = s.windows.empty() ? 0 : s.host;
    }
    if (host) DestroyAll(s, host);
  }
} unloadHook;

}  // namespace

uint32_t RegisterNotifyMessage(const char* name) {
  if (!name || !*name) return 0;
  NotifyState& s = State();
  std::lock_guard<std::mutex> l(s.m);
  auto it = s.messages.find(name);
  if (it != s.messages.end()) return it->second;
  uint32_t v = s.nextMessage++;
  s.messages.emplace(name, v);
  return v;
}

HostWindow FindHostWindow() {
  NotifyState& s = State();
  std::lock_guard<std::mutex> l(s.m);
  return EnsureHost(s);
}

NotifyWindow CreateNotifyWindow(HostWindow host, const char*, INotifyHandler* handler) {
  if (!handler) return 0;
  NotifyState& s = State();
  std::lock_guard<std::mutex> l(s.m);
  if (!host || host != s.host) return 0;
  NotifyWindow w = s.nextWindow++;
  s.windows.emplace(w, handler);
  return w;
}

bool IsNotifyWindow(NotifyWindow w) {
  NotifyState& s = State();
  std::lock_guard<std::mutex> l(s.m);
  return s.windows.count(w) != 0;
}

bool PostNotify(NotifyWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  NotifyState& s = State();
  {
    std::lock_guard<std::mutex> l(s.m);
    if (!s.windows.count(w) || s.queue.size() >= kMaxPostedNotifications) return false;
    s.queue.push_back(Message{w, message, wParam, lParam});
  }
  s.posted.notify_all();
  return true;
}

bool DestroyNotifyWindow(NotifyWindow w) {
  NotifyState& s = State();
  INotifyHandler* h = nullptr;
  {
    std::lock_guard<std::mutex> l(s.m);
    if (!s.host || s.hostThread != CurrentThreadId()) return false;
    auto it = s.windows.find(w);
    if (it == s.windows.end()) return false;
    h = it->second;
    s.windows.erase(it);
    for (auto q = s.queue.begin(); q != s.queue.end();) q = q->window == w ? s.queue.erase(q) : q + 1;
  }
  h->OnNotifyDestroyed(w);
  return true;
}

int32_t DispatchNotifications(uint32_t timeoutMs) {
  NotifyState& s = State();
  size_t due;
  {
    std::unique_lock<std::mutex> l(s.m);
    EnsureHost(s);
    if (s.hostThread != CurrentThreadId()) return -1;
    auto ready = [&] { return !s.queue.empty(); };
    if (timeoutMs == 0xFFFFFFFFu)
      s.posted.wait(l, ready);
    else
      s.posted.wait_for(l, std::chrono::milliseconds(timeoutMs), ready);
    due = s.queue.size();
  }
  // What was due when the wait ended; later posts wait for the next call.
  int32_t ran = 0;
  for (size_t i = 0; i < due; ++i) {
    Message m;
    INotifyHandler* h = nullptr;
    {
      std::lock_guard<std::mutex> l(s.m);
      if (s.queue.empty()) break;
      m = s.queue.front();
      s.queue.pop_front();
      auto it = s.windows.find(m.window);
      if (it == s.windows.end()) continue;
      h = it->second;
    }
    // No lock here: the handler may post, create or destroy windows.
    h->OnNotify(m.window, m.message, m.wParam, m.lParam);
    ++ran;
  }
  return ran;
}

void DestroyHost(HostWindow host) { DestroyAll(State(), host); }

}  // namespace qs::plat
