// Events and the one wait for any of several objects. A wait object is an event
// or a socket's readable-data notification; both builds give the same semantics:
// an auto-reset event releases exactly one waiter and is reset by that wait.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::plat {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kWaitTimeout = 258;        // as WAIT_TIMEOUT
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;  // as WAIT_FAILED
constexpr size_t kMaxWaitObjects = 64;

// Opaque handle of something that can be waited on. Copyable; it does not own.
struct WaitObject {
  intptr_t native = -1;  // HANDLE on Windows, file descriptor elsewhere
  int kind = 0;          // platform detail (auto-reset event, manual event, socket)
  bool valid() const { return native != -1 && native != 0; }
};

class Event {
 public:
  Event() = default;
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  Event(Event&& o) noexcept;
  Event& operator=(Event&& o) noexcept;

  bool Create(bool manualReset, bool initiallySet);
  void Close();
  bool valid() const { return obj_.valid(); }
  void Set() const;
  void Reset() const;
  bool IsSet() const;  // does not consume an auto-reset event
  // true when signalled within the time (consumes an auto-reset event)
  bool Wait(uint32_t ms) const;
  WaitObject object() const { return obj_; }

 private:
  WaitObject obj_;
};

// Waits for the first signalled object, preferring the lowest index. Returns its
// index, kWaitTimeout, or kWaitFailed (bad arguments or a system failure).
uint32_t WaitAny(const WaitObject* objects, size_t count, uint32_t timeoutMs);

}  // namespace qs::plat
