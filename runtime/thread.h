// A thread that runs one work item and can be told to stop, and the process's
// pool of such threads for short jobs.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/event.h"
#include "runtime/rc.h"

namespace qs {

struct IThreadEntry : IRefCounted {
  // Does the work on the calling thread; returns when done or when stopEvent
  // (manual reset) becomes signalled.
  virtual void Run(const plat::Event& stopEvent) = 0;
};

struct IThread : IRefCounted {
  virtual void* ThreadHandle() = 0;  // none after a completed stop
  virtual void SignalStop() = 0;
  virtual bool Stop() = 0;  // waits without limit
  // false on time-out, keeping the thread joinable; 0xFFFFFFFF waits without
  // limit. Called on the thread itself it only signals and returns false.
  virtual bool Stop(uint32_t timeoutMs) = 0;
};

struct IThreadPool : IRefCounted {
  virtual bool Assign(IThreadEntry* work) = 0;
  virtual void Stop() = 0;
};

// Stack of pooled threads: version queries and scans need little, and a 32-bit
// process must hold hundreds of them at once.
constexpr size_t kPooledThreadStack = 256 * 1024;

// Creates and starts a thread that runs `work`. stackBytes 0: system default.
bool CreateThread(IThreadEntry* work, IThread** out, size_t stackBytes = 0);

// Hands the work item to an idle pooled thread, or to a new one.
bool RunOnPool(IThreadEntry* work);
// Stops and releases every pooled thread. Call when no more work is submitted.
void ShutdownPool();
// Number of pooled threads created and not yet shut down, and of those idle.
size_t PoolThreadCount();
size_t PoolIdleCount();

}  // namespace qs
