#include "runtime/thread.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "platform/lock.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace qs {

namespace {

class Thread : public IThread {
 public:
  ~Thread() {
    // Runs after the thread procedure has let go of the object, so the work
    // item is no longer in use; a never-joined system thread is detached.
    if (work_) work_->Release();
  }

  bool Start(IThreadEntry* work, size_t stack) {
    work_ = work;
    work_->AddRef();
    // Created not signalled and never reset by the thread, so a stop signalled
    // right after creation is never lost.
    if (!stop_.Create(true, false)) return false;
    AddRef();  // the thread's own reference, dropped when its procedure ends
    if (!thread_.Start(&Thread::Proc, this, stack)) {
      Release();  // not the last: the creator holds one
      return false;
    }
    return true;
  }

  void* ThreadHandle() override {
    std::lock_guard<std::mutex> l(joinLock_);
    return thread_.handle();
  }
  void SignalStop() override { stop_.Set(); }
  bool Stop() override { return Stop(plat::kInfinite); }
  bool Stop(uint32_t timeoutMs) override {
    stop_.Set();
    // Joining itself would never return; checked before the lock, which a
    // joiner on another thread may hold while it waits for this thread.
    if (ownId_.load() == plat::CurrentThreadId()) return false;
    std::lock_guard<std::mutex> l(joinLock_);
    return thread_.Join(timeoutMs);
  }

 private:
  static void Proc(void* p) {
    auto* self = static_cast<Thread*>(p);
    self->ownId_.store(plat::CurrentThreadId());
    self->work_->Run(self->stop_);
    self->Release();  // may destroy the object, on this thread
  }

  IThreadEntry* work_ = nullptr;
  plat::Event stop_;
  std::atomic<uint32_t> ownId_{0};
  std::mutex joinLock_;
  plat::NativeThread thread_;
};

// One submission: the work item, its own stop event and its end.
class PoolJob : public InterfaceImpl<IPoolJob>, public InterfaceImpl<IThreadEntry> {
 public:
  bool Init(IThreadEntry* work) {
    work_ = work;
    return stop_.Create(true, false) && ended_.Create(true, false);
  }
  void Stop() override { stop_.Set(); }
  bool WaitEnded(uint32_t timeoutMs) override { return ended_.Wait(timeoutMs); }
  bool Ended() override { return ended_.IsSet(); }

  // On the pooled thread; the thread's own stop reaches the work through
  // this job's stop event (the shutdown sets both).
  void Run(const plat::Event&) override {
    Ref<IThreadEntry> work = std::move(work_);
    if (work) work->Run(stop_);
    work.reset();  // its destructor may do anything; the job has ended after it
    ended_.Set();
  }

 private:
  Ref<IThreadEntry> work_;
  plat::Event stop_;
  plat::Event ended_;
};

using Job = RCObject2Ex<PoolJob>;

class PooledThread;

// One lock guards all of it: the submissions, the idle queue, the list of
// threads and each thread's pending and current job. Nothing is released and
// no work runs while it is held.
struct PoolState {
  plat::RecursiveLock lock;
  bool closed = false;
  std::deque<IThreadPool*> idle;  // one reference each
  std::vector<IThreadPool*> all;  // one reference each
  size_t peak = 0;
  std::atomic<uint32_t> idleTimeoutMs{kPoolIdleTimeoutMs};
};

PoolState& Pool() {
  static PoolState* s = new PoolState;  // outlives static destructors of callers
  return *s;
}

// Takes the pool's reference of `t` out of a list (caller holds the lock).
template <class List>
IThreadPool* TakeOut(List& list, IThreadPool* t) {
  auto it = std::find(list.begin(), list.end(), t);
  if (it == list.end()) return nullptr;
  list.erase(it);
  return t;
}

class PooledThread : public InterfaceImplWithFinalRelease<RCObjectMultiThreadModel, IThreadPool>,
                     public InterfaceImpl<IThreadEntry> {
 public:
  bool Init(size_t stack) {
    if (!work_.Create(false, false)) return false;
    IThread* t = nullptr;
    if (!CreateThread(static_cast<IThreadEntry*>(this), &t, stack)) return false;
    plat::ScopedLock l(Pool().lock);
    thread_ = Ref<IThread>::Adopt(t);
    return true;
  }

  // The pool's lock is held; `job` is the entry of a pool job. The job runs
  // exactly once from here on.
  bool Assign(IThreadEntry* job) override {
    if (dead_ || pending_) return false;
    pending_ = static_cast<PoolJob*>(static_cast<InterfaceImpl<IThreadEntry>*>(job));
    work_.Set();
    return true;
  }

  // Stops the thread and waits without limit.
  void Stop() override { StopWithin(plat::kInfinite); }

  // The pool's lock is held: the thread and the jobs it holds are asked to end.
  void SignalStopLocked() {
    if (thread_) thread_->SignalStop();
    if (pending_) pending_->Stop();
    if (current_) current_->Stop();
  }

  bool StopWithin(uint32_t ms) {
    Ref<IThread> t;
    {
      plat::ScopedLock l(Pool().lock);
      SignalStopLocked();
      t = thread_;
    }
    return !t || t->Stop(ms);
  }

  // The pooled thread's own loop.
  void Run(const plat::Event& stop) override {
    PoolState& pool = Pool();
    plat::WaitObject objs[2] = {stop.object(), work_.object()};
    for (;;) {
      uint32_t r = plat::WaitAny(objs, 2, pool.idleTimeoutMs.load());
      Ref<IPoolJob> job;
      Leaving leaving;
      {
        plat::ScopedLock l(pool.lock);
        // A job handed over before a stop still runs (its stop event is set).
        job = std::move(pending_);
        if (job) {
          current_ = job;
        } else if (r == 1) {
          continue;  // nothing pending: a wake-up without work
        } else if (r == plat::kWaitTimeout && !stop.IsSet() &&
                   std::find(pool.idle.begin(), pool.idle.end(), Self()) == pool.idle.end()) {
          continue;  // not idle (just made, its first job on the way): keep waiting
        } else {
          // Stopped, a failed wait, or idle for a while: leave the pool.
          LeaveLocked(&leaving);
        }
      }
      if (!job) return;  // `leaving` drops the pool's references
      static_cast<PoolJob*>(job.get())->Run(stop);
      {
        plat::ScopedLock l(pool.lock);
        current_.reset();
        if (!pool.closed && !stop.IsSet()) {
          Self()->AddRef();
          pool.idle.push_back(Self());
        } else {
          LeaveLocked(&leaving);
        }
      }
      if (leaving.done) return;
    }
  }

 protected:
  // The last reference held through IThreadPool is gone: the thread is asked
  // to end and let go of; it holds itself until its procedure returns.
  void FinalRelease() override {
    Ref<IThread> t;
    {
      plat::ScopedLock l(Pool().lock);
      SignalStopLocked();
      t = std::move(thread_);
    }
  }

 private:
  IThreadPool* Self() { return static_cast<IThreadPool*>(this); }

  // The pool's references to a thread that leaves it, dropped outside the lock.
  struct Leaving {
    bool done = false;
    IThreadPool* refs[2] = {};
    ~Leaving() {
      for (IThreadPool* r : refs)
        if (r) r->Release();
    }
  };

  // The pool's lock is held: this thread takes no more work and leaves the
  // lists (a shutdown may have emptied them already).
  void LeaveLocked(Leaving* out) {
    dead_ = true;
    out->done = true;
    PoolState& pool = Pool();
    out->refs[0] = TakeOut(pool.idle, Self());
    out->refs[1] = TakeOut(pool.all, Self());
  }

  Ref<IThread> thread_;
  Ref<IPoolJob> pending_;
  Ref<IPoolJob> current_;
  bool dead_ = false;
  plat::Event work_;
};

using Pooled = RCObject2Ex<PooledThread>;

}  // namespace

bool CreateThread(IThreadEntry* work, IThread** out, size_t stackBytes) {
  *out = nullptr;
  if (!work) return false;
  auto* t = new (std::nothrow) RCObject2<Thread>();
  if (!t) return false;
  t->AddRef();
  if (!t->Start(work, stackBytes)) {
    t->Release();
    return false;
  }
  *out = t;
  return true;
}

bool RunOnPool(IThreadEntry* work, Ref<IPoolJob>* out) {
  if (out) out->reset();
  if (!work) return false;
  auto* job = new (std::nothrow) Job();
  if (!job) return false;
  Ref<IPoolJob> control(static_cast<IPoolJob*>(job));
  if (!job->Init(work)) return false;
  IThreadEntry* entry = static_cast<InterfaceImpl<IThreadEntry>*>(job);

  PoolState& pool = Pool();
  IThreadPool* chosen = nullptr;
  bool ok = false;
  {
    plat::ScopedLock l(pool.lock);
    if (pool.closed) return false;
    if (!pool.idle.empty()) {
      chosen = pool.idle.back();  // the most recently idle one is warm
      pool.idle.pop_back();
      ok = chosen->Assign(entry);
    }
  }
  if (chosen) {
    chosen->Release();  // the idle queue's reference
    if (ok && out) *out = control;
    return ok;
  }

  // No idle thread: a new one, made outside the lock.
  auto* pt = new (std::nothrow) Pooled();
  if (!pt) return false;
  IThreadPool* ip = static_cast<IThreadPool*>(pt);
  ip->AddRef();
  if (pt->Init(kPooledThreadStack)) {
    plat::ScopedLock l(pool.lock);
    if (!pool.closed) {
      ip->AddRef();
      pool.all.push_back(ip);
      pool.peak = std::max(pool.peak, pool.all.size());
      ok = pt->Assign(entry);
    }
  }
  // Not taken into the pool: this release ends the new thread.
  ip->Release();
  if (ok && out) *out = control;
  return ok;
}

size_t ShutdownPool(uint32_t waitMs) {
  PoolState& pool = Pool();
  std::vector<IThreadPool*> threads;
  std::deque<IThreadPool*> idle;
  {
    plat::ScopedLock l(pool.lock);
    pool.closed = true;
    threads.swap(pool.all);
    idle.swap(pool.idle);
    for (IThreadPool* t : threads) static_cast<Pooled*>(t)->SignalStopLocked();
  }
  for (IThreadPool* t : idle) t->Release();  // each is also in `threads`
  const uint32_t start = plat::TickCount();
  size_t left = 0;
  for (IThreadPool* t : threads) {
    uint32_t spent = plat::TicksSince(start);
    uint32_t remaining = waitMs == plat::kInfinite ? plat::kInfinite : (spent >= waitMs ? 0 : waitMs - spent);
    if (!static_cast<Pooled*>(t)->StopWithin(remaining)) ++left;
  }
  for (IThreadPool* t : threads) t->Release();
  return left;
}

void ReopenPool() {
  plat::ScopedLock l(Pool().lock);
  Pool().closed = false;
}

bool PoolIsOpen() {
  plat::ScopedLock l(Pool().lock);
  return !Pool().closed;
}

size_t PoolIdleCount() {
  plat::ScopedLock l(Pool().lock);
  return Pool().idle.size();
}

size_t PoolThreadCount() {
  plat::ScopedLock l(Pool().lock);
  return Pool().all.size();
}

size_t PoolPeakThreadCount() {
  plat::ScopedLock l(Pool().lock);
  return Pool().peak;
}

void ResetPoolPeak() {
  plat::ScopedLock l(Pool().lock);
  Pool().peak = Pool().all.size();
}

void SetPoolIdleTimeout(uint32_t ms) { Pool().idleTimeoutMs.store(ms ? ms : 1); }

}  // namespace qs
