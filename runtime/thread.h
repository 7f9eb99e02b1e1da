// A thread that runs one work item and can be told to stop, and the process's
// pool of such threads for jobs.
//
// The pool's promises:
// - a submission either fails (the pool is shut down, or shutting down, or out
//   of threads) and the work never runs, or succeeds and the work runs exactly
//   once, perhaps with its stop event already set;
// - every submission gets a stop event of its own (IPoolJob), set by an abort
//   of that job or by the pool's shutdown;
// - shutdown waits a bounded time for the threads;
// - an idle pooled thread ends after kPoolIdleTimeoutMs without work.
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

// One pooled thread as the pool sees it.
struct IThreadPool : IRefCounted {
  virtual bool Assign(IThreadEntry* work) = 0;
  virtual void Stop() = 0;
};

// One submission to the pool: the work item's own stop event and its end.
struct IPoolJob : IRefCounted {
  // Asks the work to end (sets its stop event); does not wait.
  virtual void Stop() = 0;
  // true once the work's Run has returned, within the time.
  virtual bool WaitEnded(uint32_t timeoutMs) = 0;
  virtual bool Ended() = 0;
};

// Stack of pooled threads: scans need little, and a 32-bit process may hold
// many of them at once.
constexpr size_t kPooledThreadStack = 256 * 1024;
// An idle pooled thread ends after this long without work.
constexpr uint32_t kPoolIdleTimeoutMs = 30000;
// How long a shutdown waits, in all, for the pooled threads to end.
constexpr uint32_t kPoolShutdownWaitMs = 10000;

// Creates and starts a thread that runs `work`. stackBytes 0: system default.
// The thread holds its own reference to the IThread while it runs, so the
// owner may release it at any time.
bool CreateThread(IThreadEntry* work, IThread** out, size_t stackBytes = 0);

// Hands the work item to an idle pooled thread, or to a new one. false when
// the pool is shut down or no thread can be had; the work then never runs.
// `job`, when given, receives the submission's control.
bool RunOnPool(IThreadEntry* work, Ref<IPoolJob>* job = nullptr);

// Refuses new work from now on, stops every pooled thread (each running work
// item sees its stop event) and waits up to waitMs in all for them to end.
// Returns how many threads had not ended by then; they are left to end on
// their own (each holds what it uses). Submissions fail until ReopenPool.
size_t ShutdownPool(uint32_t waitMs = kPoolShutdownWaitMs);
// Accepts work again after a shutdown (a library that starts afresh).
void ReopenPool();
bool PoolIsOpen();

// Pooled threads that exist now, of those the idle ones, and the most that
// existed at once since the last ResetPoolPeak.
size_t PoolThreadCount();
size_t PoolIdleCount();
size_t PoolPeakThreadCount();
void ResetPoolPeak();
// For tests: how long an idle thread waits for work before it ends.
void SetPoolIdleTimeout(uint32_t ms);

}  // namespace qs
