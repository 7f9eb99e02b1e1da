#include "runtime/thread.h"

#include <deque>

#include "platform/lock.h"
#include "platform/thread.h"

namespace qs {

namespace {

class Thread : public IThread {
 public:
  ~Thread() {
    // Destroying does not stop the thread; a never-joined one is detached.
    if (work_) work_->Release();
  }

  bool Start(IThreadEntry* work, size_t stack) {
    work_ = work;
    work_->AddRef();
    // Created not signalled and never reset by the thread, so a stop signalled
    // right after creation is never lost.
    if (!stop_.Create(true, false)) return false;
    return thread_.Start(&Thread::Proc, this, stack);
  }

  void* ThreadHandle() override { return thread_.handle(); }
  void SignalStop() override { stop_.Set(); }
  bool Stop() override { return Stop(plat::kInfinite); }
  bool Stop(uint32_t timeoutMs) override {
    if (!thread_.running()) return true;
    stop_.Set();
    if (thread_.IsCurrent()) return false;  // joining itself would never return
    return thread_.Join(timeoutMs);
  }

 private:
  static void Proc(void* p) {
    auto* self = static_cast<Thread*>(p);
    self->work_->Run(self->stop_);
  }

  IThreadEntry* work_ = nullptr;
  plat::Event stop_;
  plat::NativeThread thread_;
};

class PooledThread;

struct PoolState {
  plat::RecursiveLock idleLock;
  std::deque<IThreadPool*> idle;
  plat::RecursiveLock listLock;
  std::deque<IThreadPool*> all;
};

PoolState& Pool() {
  static PoolState* s = new PoolState;  // outlives static destructors of callers
  return *s;
}

class PooledThread : public InterfaceImplWithFinalRelease<RCObjectMultiThreadModel, IThreadPool>,
                     public InterfaceImpl<IThreadEntry> {
 public:
  bool Init(size_t stack) {
    if (!work_.Create(false, false)) return false;
    IThread* t = nullptr;
    if (!CreateThread(static_cast<IThreadEntry*>(this), &t, stack)) return false;
    thread_ = Ref<IThread>::Adopt(t);
    return true;
  }

  bool Assign(IThreadEntry* work) override {
    {
      plat::ScopedLock l(pendingLock_);
      pending_ = work;
      self_ = static_cast<IThreadPool*>(this);
    }
    work_.Set();
    return true;
  }

  void Stop() override {
    if (thread_) thread_->Stop();
  }

  void Run(const plat::Event& stop) override {
    plat::WaitObject objs[2] = {stop.object(), work_.object()};
    for (;;) {
      uint32_t r = plat::WaitAny(objs, 2, plat::kInfinite);
      if (r != 1) return;  // stop, or a failed wait
      Ref<IThreadEntry> work;
      Ref<IThreadPool> self;
      {
        plat::ScopedLock l(pendingLock_);
        work = std::move(pending_);
        self = std::move(self_);
      }
      if (work) work->Run(stop);
      {
        plat::ScopedLock l(Pool().idleLock);
        IThreadPool* me = static_cast<IThreadPool*>(this);
        me->AddRef();
        Pool().idle.push_back(me);
      }
      // Dropped after the lock: the work item's destructor may do anything.
      work.reset();
      self.reset();
    }
  }

 protected:
  void FinalRelease() override {
    Ref<IThread> t = std::move(thread_);
    if (t) t->Stop();
  }

 private:
  plat::RecursiveLock pendingLock_;
  Ref<IThread> thread_;
  Ref<IThreadEntry> pending_;
  Ref<IThreadPool> self_;
  plat::Event work_;
};

}  // namespace

bool CreateThread(IThreadEntry* work, IThread** out, size_t stackBytes) {
  *out = nullptr;
  if (!work) return false;
  auto* t = CreateObject<RCObject2<Thread>>();
  if (!t->Start(work, stackBytes)) {
    t->Release();
    return false;
  }
  *out = t;
  return true;
}

bool RunOnPool(IThreadEntry* work) {
  if (!work) return false;
  PoolState& pool = Pool();
  IThreadPool* chosen = nullptr;
  {
    plat::ScopedLock l(pool.idleLock);
    if (!pool.idle.empty()) {
      chosen = pool.idle.back();  // the most recently idle one is warm
      pool.idle.pop_back();
    }
  }
  if (!chosen) {
    auto* pt = new RCObject2Ex<PooledThread>();
    IThreadPool* ip = static_cast<IThreadPool*>(pt);
    ip->AddRef();
    if (!pt->Init(kPooledThreadStack)) {
      ip->Release();
      return false;
    }
    chosen = ip;
    plat::ScopedLock l(pool.listLock);
    chosen->AddRef();
    pool.all.push_back(chosen);
  }
  bool ok = chosen->Assign(work);
  chosen->Release();
  return ok;
}

void ShutdownPool() {
  PoolState& pool = Pool();
  for (;;) {
    IThreadPool* t = nullptr;
    {
      plat::ScopedLock l(pool.listLock);
      if (pool.all.empty()) break;
      t = pool.all.back();
      pool.all.pop_back();
    }
    t->Stop();
    t->Release();
  }
  std::deque<IThreadPool*> idle;
  {
    plat::ScopedLock l(pool.idleLock);
    idle.swap(pool.idle);
  }
  for (IThreadPool* t : idle) t->Release();
}

size_t PoolIdleCount() {
  plat::ScopedLock l(Pool().idleLock);
  return Pool().idle.size();
}

size_t PoolThreadCount() {
  plat::ScopedLock l(Pool().listLock);
  return Pool().all.size();
}

}  // namespace qs
