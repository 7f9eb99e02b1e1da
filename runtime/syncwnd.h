// Carrying results from worker threads to the host's window thread. A worker
// stores what is to be delivered in a locked table or queue and posts a
// registered message to a hidden window of the host thread; the window takes
// the payload out under the lock and calls out after unlocking, so a callout
// never runs with one of these locks held.
#pragma once
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/lock.h"
#include "platform/notify.h"

namespace qs {

// One hidden notification window and its handler. Created on the host thread;
// the object deletes itself after its window's last message.
class SyncWnd : protected plat::INotifyHandler {
 public:
  // false when the window cannot be made; the caller then deletes the object.
  bool Create(plat::HostWindow host, const char* className);
  plat::NotifyWindow window() const { return window_; }
  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) const {
    return plat::PostNotify(window_, message, wParam, lParam);
  }
  // On the window thread: destroys the window (the object follows).
  void Destroy();

  virtual ~SyncWnd() = default;

 protected:
  // This window's messages, on the window thread; true when handled.
  virtual bool OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  // The window is being destroyed.
  virtual void OnDestroy() {}
  // After the window's last message.
  virtual void OnFinalMessage() { delete this; }

 private:
  bool OnNotify(plat::NotifyWindow, uint32_t message, uintptr_t wParam, intptr_t lParam) final {
    return OnMessage(message, wParam, lParam);
  }
  void OnNotifyDestroyed(plat::NotifyWindow) final;

  plat::NotifyWindow window_ = 0;
};

// Numbered payloads: each post stores its payload under a fresh number.
template <class Payload>
class NumberedTable {
 public:
  uint32_t Store(Payload p) {
    plat::ScopedLock l(lock_);
    uint32_t n = ++counter_;
    entries_.emplace(n, std::move(p));
    return n;
  }
  // Removes and hands out the payload of the number; false when absent.
  bool Take(uint32_t n, Payload& out) {
    plat::ScopedLock l(lock_);
    auto it = entries_.find(n);
    if (it == entries_.end()) return false;
    out = std::move(it->second);
    entries_.erase(it);
    return true;
  }
  size_t size() {
    plat::ScopedLock l(lock_);
    return entries_.size();
  }

 private:
  plat::RecursiveLock lock_;
  uint32_t counter_ = 0;
  std::map<uint32_t, Payload> entries_;
};

// A window that delivers numbered payloads to one callout.
template <class Payload>
class NumberedSyncWnd : public SyncWnd {
 public:
  using Callout = void (*)(void* context, Payload& payload);
  NumberedSyncWnd(uint32_t message, NumberedTable<Payload>* table, Callout callout, void* context)
      : message_(message), table_(table), callout_(callout), context_(context) {}

  // Any thread. false when the window is gone; the payload then stays in the
  // table, never delivered.
  bool PostPayload(Payload p) {
    uint32_t n = table_->Store(std::move(p));
    return Post(message_, 0, static_cast<intptr_t>(n));
  }

 protected:
  bool OnMessage(uint32_t message, uintptr_t, intptr_t lParam) override {
    if (message != message_) return false;
    Payload p;
    if (table_->Take(static_cast<uint32_t>(lParam), p)) callout_(context_, p);
    return true;
  }

 private:
  uint32_t message_;
  NumberedTable<Payload>* table_;
  Callout callout_;
  void* context_;
};

// Queued events: one message per event, but each message drains the whole
// queue, so a later message may find nothing left to do.
template <class Event>
class QueueSyncWnd : public SyncWnd {
 public:
  using Callout = void (*)(void* context, Event& event);
  QueueSyncWnd(uint32_t message, Callout callout, void* context)
      : message_(message), callout_(callout), context_(context) {}

  bool PostEvent(Event e) {
    {
      plat::ScopedLock l(lock_);
      pending_.push_back(std::move(e));
    }
    return Post(message_, 0, 0);
  }

 protected:
  bool OnMessage(uint32_t message, uintptr_t, intptr_t) override {
    if (message != message_) return false;
    std::vector<Event> events;
    {
      plat::ScopedLock l(lock_);
      events.swap(pending_);
    }
    for (Event& e : events) callout_(context_, e);
    return true;
  }

 private:
  uint32_t message_;
  Callout callout_;
  void* context_;
  plat::RecursiveLock lock_;
  std::vector<Event> pending_;
};

}  // namespace qs
