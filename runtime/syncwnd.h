// Carrying results from worker threads to the host's window thread. A worker
// stores what is to be delivered in a locked table or queue and posts a
// registered message to a hidden window of the host thread; the window takes
// the payload out under the lock and calls out after unlocking, so a callout
// never runs with one of these locks held.
//
// Workers never hold the window object itself (it goes with its window, on the
// host thread, at any time): they hold a counted poster that outlives it. The
// window detaches its poster under the poster's lock as it dies, so a worker
// that posts after the host window is gone does nothing, safely.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <new>
#include <utility>
#include <vector>

#include "platform/lock.h"
#include "platform/notify.h"
#include "platform/tick.h"
#include "runtime/rc.h"

namespace qs {

// One hidden notification window and its handler. Created on the host thread;
// the object deletes itself after its window's last message.
class SyncWnd : protected plat::INotifyHandler {
 public:
  // false when the window cannot be made; the caller then deletes the object.
  bool Create(plat::HostWindow host, const char* className);
  plat::NotifyWindow window() const { return window_; }
  // On the window thread: destroys the window (the object follows at once).
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

// The worker side's link to a window: the window handle under a lock, cleared
// when the window dies. Posting happens under the lock, so a post never
// reaches a window handle that has been reused.
class PostLink {
 public:
  void Attach(plat::NotifyWindow w) {
    plat::ScopedLock l(lock_);
    window_ = w;
  }
  void Detach() {
    plat::ScopedLock l(lock_);
    window_ = 0;
  }
  bool attached() {
    plat::ScopedLock l(lock_);
    return window_ != 0;
  }
  // Attached, and the window still exists (not on its way out).
  bool alive() {
    plat::ScopedLock l(lock_);
    return window_ != 0 && plat::IsNotifyWindow(window_);
  }
  // false when detached or when the system refused the post (queue full).
  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    plat::ScopedLock l(lock_);
    return window_ != 0 && plat::PostNotify(window_, message, wParam, lParam);
  }
  plat::RecursiveLock& lock() { return lock_; }

 private:
  plat::RecursiveLock lock_;
  plat::NotifyWindow window_ = 0;
};

// Numbered payloads: each post stores its payload under a fresh number, and
// the message carries the number.
template <class Payload>
class NumberedPoster : public IRefCounted {
 public:
  explicit NumberedPoster(uint32_t message) : message_(message) {}
  virtual ~NumberedPoster() = default;

  // Any thread. false when the window is gone or the post was refused; the
  // payload is then dropped (and counted), never delivered.
  bool PostPayload(Payload p) {
    plat::ScopedLock l(link_.lock());
    if (!link_.attached()) {
      ++dropped_;
      return false;
    }
    uint32_t n = ++counter_;
    entries_.emplace(n, std::move(p));
    if (link_.Post(message_, 0, static_cast<intptr_t>(n))) return true;
    entries_.erase(n);
    ++dropped_;
    return false;
  }
  // Window side: removes and hands out the payload of the number.
  bool Take(uint32_t n, Payload& out) {
    plat::ScopedLock l(link_.lock());
    auto it = entries_.find(n);
    if (it == entries_.end()) return false;
    out = std::move(it->second);
    entries_.erase(it);
    return true;
  }
  size_t pending() {
    plat::ScopedLock l(link_.lock());
    return entries_.size();
  }
  uint64_t dropped() {
    plat::ScopedLock l(link_.lock());
    return dropped_;
  }
  PostLink& link() { return link_; }
  uint32_t message() const { return message_; }

 private:
  PostLink link_;
  uint32_t message_;
  uint32_t counter_ = 0;
  uint64_t dropped_ = 0;
  std::map<uint32_t, Payload> entries_;
};

// A window that delivers numbered payloads to one callout.
template <class Payload>
class NumberedSyncWnd : public SyncWnd {
 public:
  using Callout = void (*)(void* context, Payload& payload);
  using Poster = NumberedPoster<Payload>;

  NumberedSyncWnd(uint32_t message, Callout callout, void* context)
      : poster_(Ref<Poster>::Adopt(CreateObject<RCObject2<Poster>>(message))), callout_(callout), context_(context) {}

  // For workers: valid for as long as they hold it, whatever the window does.
  Ref<Poster> poster() const { return poster_; }
  bool Create(plat::HostWindow host, const char* className) {
    if (!SyncWnd::Create(host, className)) return false;
    poster_->link().Attach(window());
    return true;
  }

 protected:
  bool OnMessage(uint32_t message, uintptr_t, intptr_t lParam) override {
    if (message != poster_->message()) return false;
    Payload p;
    if (poster_->Take(static_cast<uint32_t>(lParam), p)) callout_(context_, p);
    return true;
  }
  void OnDestroy() override { poster_->link().Detach(); }

 private:
  Ref<Poster> poster_;
  Callout callout_;
  void* context_;
};

// Queued events with at most one message in flight: the message drains the
// whole queue, so a burst of events costs the host's posted-message queue one
// message and cannot fill it. When a post is refused (the host's queue full)
// the events stay queued: the next Push posts again, Flush retries for a
// while, and the host thread's RunStalledNotifications delivers what is left.
template <class Event>
class NotifyQueue : public IRefCounted {
 public:
  explicit NotifyQueue(uint32_t message) : message_(message) {}
  virtual ~NotifyQueue() = default;

  // Any thread. Queues the event and posts when no message is in flight.
  // false when the window is gone (the event is dropped and counted).
  bool Push(Event e) {
    plat::ScopedLock l(link_.lock());
    if (!link_.attached()) {
      ++dropped_;
      return false;
    }
    events_.push_back(std::move(e));
    PostLocked();
    return true;
  }
  // Any thread: while events wait with no message in flight, retries the post
  // every 20 ms for up to budgetMs. true when nothing is left waiting.
  bool Flush(uint32_t budgetMs) {
    const uint32_t start = plat::TickCount();
    for (;;) {
      {
        plat::ScopedLock l(link_.lock());
        if (events_.empty() || inFlight_) return true;
        if (!link_.alive()) return false;
        if (PostLocked()) return true;
      }
      if (plat::TicksSince(start) >= budgetMs) return false;
      plat::SleepMs(20);
    }
  }
  // Window side: every queued event, in order; the message in flight is spent.
  std::vector<Event> Take() {
    plat::ScopedLock l(link_.lock());
    inFlight_ = false;
    std::vector<Event> out;
    out.swap(events_);
    return out;
  }
  // Events waiting without a message in flight (a post was refused).
  bool stalled() {
    plat::ScopedLock l(link_.lock());
    return !inFlight_ && !events_.empty();
  }
  uint64_t dropped() {
    plat::ScopedLock l(link_.lock());
    return dropped_;
  }
  uint64_t refusedPosts() {
    plat::ScopedLock l(link_.lock());
    return refused_;
  }
  PostLink& link() { return link_; }
  uint32_t message() const { return message_; }
  // The window is gone: what is still queued is dropped and counted.
  void Detach() {
    plat::ScopedLock l(link_.lock());
    link_.Detach();
    dropped_ += events_.size();
    events_.clear();
    inFlight_ = false;
  }

 private:
  bool PostLocked() {
    if (inFlight_) return true;
    if (!link_.Post(message_, 0, 0)) {
      ++refused_;
      return false;
    }
    inFlight_ = true;
    return true;
  }

  PostLink link_;
  uint32_t message_;
  bool inFlight_ = false;
  uint64_t dropped_ = 0;
  uint64_t refused_ = 0;
  std::vector<Event> events_;
};

// The host thread's hook for queue windows whose post was refused: each
// registered window with stalled events delivers them now.
class StalledWindow {
 public:
  // true when it had events to deliver.
  virtual bool RunStalled() = 0;

 protected:
  void Register();
  void Unregister();
  ~StalledWindow() = default;
};

// On the host thread: delivers the events of every queue window whose post
// was refused. Returns how many windows had events waiting.
size_t RunStalledNotifications();
// Queue windows that exist now (for tests).
size_t QueueWindowCount();

// A window that delivers queued events; Deliver runs on the window thread
// with every event taken from the queue.
template <class Event>
class QueueSyncWnd : public SyncWnd, private StalledWindow {
 public:
  using Callout = void (*)(void* context, Event& event);
  using Queue = NotifyQueue<Event>;

  QueueSyncWnd(uint32_t message, Callout callout, void* context)
      : queue_(Ref<Queue>::Adopt(CreateObject<RCObject2<Queue>>(message))), callout_(callout), context_(context) {}

  // For workers: valid for as long as they hold it, whatever the window does.
  Ref<Queue> queue() const { return queue_; }
  bool Create(plat::HostWindow host, const char* className) {
    if (!SyncWnd::Create(host, className)) return false;
    queue_->link().Attach(window());
    Register();
    return true;
  }

 protected:
  // Every event in order; the default passes each to the callout.
  virtual void Deliver(std::vector<Event>& events) {
    for (Event& e : events) callout_(context_, e);
  }
  bool OnMessage(uint32_t message, uintptr_t, intptr_t) override {
    if (message != queue_->message()) return false;
    std::vector<Event> events = queue_->Take();
    if (!events.empty()) Deliver(events);  // may destroy this window
    return true;
  }
  void OnDestroy() override {
    Unregister();
    queue_->Detach();
  }

 private:
  bool RunStalled() override {
    if (!queue_->stalled()) return false;
    std::vector<Event> events = queue_->Take();
    if (events.empty()) return false;
    Deliver(events);  // may destroy this window
    return true;
  }

  Ref<Queue> queue_;
  Callout callout_;
  void* context_;
};

}  // namespace qs
