// The simulator's event loop: sockets registered with a callback each, and
// one-shot timers. Sockets are named by the id Watch hands out, never by their
// place in a list, so that any number of them (ports, multicast receivers,
// listening and accepted TCP sockets) can come and go, also from inside a
// callback.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

namespace qs::devsim {

class EventLoop {
 public:
  enum : uint32_t { kReadable = 1, kWritable = 2, kHangup = 4 };
  using SocketFn = std::function<void(uint32_t events)>;
  using TimerFn = std::function<void()>;
  using Id = uint64_t;  // 0 is never handed out

  EventLoop() = default;
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  bool Open(std::string* error);

  // fn runs with kReadable when fd has data (or a peer to accept), with
  // kWritable too when asked for, with kHangup when the peer is gone. The loop
  // does not own fd: Unwatch before closing it. 0 on failure.
  Id Watch(int fd, bool writable, SocketFn fn);
  bool SetWritable(Id id, bool writable);
  void Unwatch(Id id);  // no further call, even in the round under way

  // fn runs once, about ms from now; timers due at the same time run in the
  // order they were set.
  Id After(uint32_t ms, TimerFn fn);
  void Cancel(Id timer);
  void CancelTimers();  // every pending timer

  // One round: waits up to maxWaitMs (less when a timer falls due), then runs
  // the due timers and the callbacks of the ready sockets.
  void RunOnce(int maxWaitMs);

  size_t sockets() const { return watches_.size(); }
  size_t timers() const { return timerFns_.size(); }
  static uint64_t Now();  // milliseconds, monotonic

 private:
  struct Watched {
    int fd;
    bool writable;
    std::shared_ptr<SocketFn> fn;  // shared: a callback may unwatch itself
  };
  void RunTimers();
  int WaitMs(int maxWaitMs) const;

  int epoll_ = -1;
  Id next_ = 1;
  std::unordered_map<Id, Watched> watches_;
  std::multimap<uint64_t, Id> due_;           // due time -> timer
  std::unordered_map<Id, std::pair<uint64_t, TimerFn>> timerFns_;  // timer -> (due, fn)
};

}  // namespace qs::devsim
