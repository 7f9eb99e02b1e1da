// One system thread. Join can wait with a limit; after a timed-out join the
// thread stays joinable.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::plat {

class NativeThread {
 public:
  using Proc = void (*)(void* arg);

  NativeThread() = default;
  ~NativeThread();  // detaches a thread that was never joined
  NativeThread(const NativeThread&) = delete;
  NativeThread& operator=(const NativeThread&) = delete;

  // stackBytes 0 means the system default.
  bool Start(Proc proc, void* arg, size_t stackBytes = 0);
  // true when the thread has ended and its handle is closed; kInfinite waits without limit
  bool Join(uint32_t timeoutMs);
  bool running() const { return impl_ != nullptr; }
  // true when called on this thread (which must never join itself)
  bool IsCurrent() const;
  // The system handle (HANDLE on Windows, an opaque non-null value elsewhere).
  void* handle() const;

 struct Impl;  // per build

 private:
  Impl* impl_ = nullptr;
};

uint32_t CurrentThreadId();

}  // namespace qs::plat
