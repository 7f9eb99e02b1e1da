#include <gtest/gtest.h>

#include <atomic>

#include "platform/tick.h"
#include "runtime/thread.h"

namespace qs {
namespace {

// Waits for the stop event, counting how it ended.
class StopWaiter : public IThreadEntry {
 public:
  explicit StopWaiter(std::atomic<int>* ended) : ended_(ended) {}
  void Run(const plat::Event& stop) override {
    if (stop.Wait(10000)) ended_->fetch_add(1);
  }

 private:
  std::atomic<int>* ended_;
};

// Ignores the stop event until released by the test.
class Stubborn : public IThreadEntry {
 public:
  explicit Stubborn(plat::Event* go) : go_(go) {}
  void Run(const plat::Event&) override { go_->Wait(20000); }

 private:
  plat::Event* go_;
};

TEST(Thread, StopRightAfterCreationAlwaysEndsTheThread) {
  std::atomic<int> ended{0};
  for (int i = 0; i < 200; ++i) {
    Ref<IThreadEntry> w = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<StopWaiter>>(&ended));
    IThread* t = nullptr;
    ASSERT_TRUE(CreateThread(w.get(), &t));
    t->SignalStop();
    ASSERT_TRUE(t->Stop(5000)) << "iteration " << i;
    t->Release();
  }
  EXPECT_EQ(ended.load(), 200);
}

TEST(Thread, TimedStopOfStubbornWorkKeepsHandleThenJoins) {
  plat::Event go;
  ASSERT_TRUE(go.Create(true, false));
  Ref<IThreadEntry> w = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Stubborn>>(&go));
  IThread* t = nullptr;
  ASSERT_TRUE(CreateThread(w.get(), &t));
  EXPECT_FALSE(t->Stop(50));
  EXPECT_NE(t->ThreadHandle(), nullptr);
  go.Set();
  EXPECT_TRUE(t->Stop());
  EXPECT_EQ(t->ThreadHandle(), nullptr);
  EXPECT_TRUE(t->Stop(0));  // no thread any more
  t->Release();
}

TEST(Thread, WorkItemOutlivesCallerReference) {
  std::atomic<int> ended{0};
  IThread* t = nullptr;
  {
    Ref<IThreadEntry> w = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<StopWaiter>>(&ended));
    ASSERT_TRUE(CreateThread(w.get(), &t));
  }
  EXPECT_TRUE(t->Stop(5000));
  t->Release();
  EXPECT_EQ(ended.load(), 1);
}

// A work item that asks its own thread to stop must not deadlock.
class SelfStopper : public IThreadEntry {
 public:
  void Run(const plat::Event& stop) override {
    result = owner->Stop(1000) ? 1 : 0;
    signalled = stop.IsSet();
  }
  IThread* owner = nullptr;
  std::atomic<int> result{-1};
  std::atomic<bool> signalled{false};
};

TEST(Thread, StopFromItsOwnThreadReturnsFalseInsteadOfHanging) {
  auto* w = CreateObject<RCObject2<SelfStopper>>();
  IThread* t = nullptr;
  // The thread may run before `owner` is set; make it wait for it.
  class Gate : public IThreadEntry {
   public:
    Gate(SelfStopper* s, plat::Event* go) : s_(s), go_(go) {}
    void Run(const plat::Event& stop) override {
      go_->Wait(5000);
      s_->Run(stop);
    }
    SelfStopper* s_;
    plat::Event* go_;
  };
  plat::Event go;
  ASSERT_TRUE(go.Create(true, false));
  auto* gate = CreateObject<RCObject2<Gate>>(w, &go);
  ASSERT_TRUE(CreateThread(gate, &t));
  w->owner = t;
  go.Set();
  EXPECT_TRUE(t->Stop(5000));
  EXPECT_EQ(w->result.load(), 0);
  EXPECT_TRUE(w->signalled.load());
  t->Release();
  gate->Release();
  w->Release();
}

// The owner lets go of a thread that is still running (as a pooled thread
// does when it leaves the pool): the thread's stop event and work item stay
// valid until the work returns.
class OutlivesOwner : public IThreadEntry {
 public:
  OutlivesOwner(plat::Event* released, plat::Event* done) : released_(released), done_(done) {}
  void Run(const plat::Event& stop) override {
    released_->Wait(5000);
    // A real wait on the stop event, not a failure on a closed handle.
    uint32_t t0 = plat::TickCount();
    bool set = stop.Wait(60);
    waited = plat::TicksSince(t0);
    stoppedEarly = set;
    done_->Set();
  }
  std::atomic<uint32_t> waited{0};
  std::atomic<bool> stoppedEarly{true};

 private:
  plat::Event* released_;
  plat::Event* done_;
};

TEST(Thread, ReleasedWhileRunningKeepsItsStateUntilTheWorkEnds) {
  plat::Event released, done;
  ASSERT_TRUE(released.Create(true, false));
  ASSERT_TRUE(done.Create(true, false));
  Ref<IThreadEntry> w = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<OutlivesOwner>>(&released, &done));
  IThread* t = nullptr;
  ASSERT_TRUE(CreateThread(w.get(), &t));
  t->Release();  // the owner's last reference, while the thread runs
  released.Set();
  ASSERT_TRUE(done.Wait(5000));
  auto* o = static_cast<OutlivesOwner*>(w.get());
  EXPECT_FALSE(o->stoppedEarly.load());
  EXPECT_GE(o->waited.load(), 50u);
  plat::SleepMs(50);  // the thread lets go of itself; AddressSanitizer checks that nothing is used after
}

// A work item that stops its own thread and is the only one holding it.
class StopsAndDropsItself : public IThreadEntry {
 public:
  explicit StopsAndDropsItself(plat::Event* done) : done_(done) {}
  void Run(const plat::Event& stop) override {
    go.Wait(5000);
    IThread* t = owner.exchange(nullptr);
    selfStop = t->Stop(1000) ? 1 : 0;  // only signals: joining itself would hang
    t->Release();                        // the last reference but the thread's own
    signalled = stop.IsSet();
    done_->Set();
  }
  plat::Event go;
  std::atomic<IThread*> owner{nullptr};
  std::atomic<int> selfStop{-1};
  std::atomic<bool> signalled{false};

 private:
  plat::Event* done_;
};

TEST(Thread, AThreadThatStopsAndReleasesItselfEndsCleanly) {
  plat::Event done;
  ASSERT_TRUE(done.Create(true, false));
  auto* w = CreateObject<RCObject2<StopsAndDropsItself>>(&done);
  ASSERT_TRUE(w->go.Create(true, false));
  IThread* t = nullptr;
  ASSERT_TRUE(CreateThread(w, &t));
  w->owner = t;  // handed over: the work item now holds the only reference
  w->go.Set();
  ASSERT_TRUE(done.Wait(5000));
  EXPECT_EQ(w->selfStop.load(), 0);
  EXPECT_TRUE(w->signalled.load());
  plat::SleepMs(50);
  w->Release();
}

TEST(Event, AutoResetReleasesOneWaitAndManualStays) {
  plat::Event a, m;
  ASSERT_TRUE(a.Create(false, false));
  ASSERT_TRUE(m.Create(true, false));
  a.Set();
  a.Set();
  EXPECT_TRUE(a.Wait(0));
  EXPECT_FALSE(a.Wait(0));
  m.Set();
  EXPECT_TRUE(m.Wait(0));
  EXPECT_TRUE(m.Wait(0));
  m.Reset();
  EXPECT_FALSE(m.Wait(0));
}

TEST(Event, WaitAnyPrefersLowestSignalledAndTimesOut) {
  plat::Event e[3];
  for (auto& x : e) ASSERT_TRUE(x.Create(true, false));
  plat::WaitObject objs[3] = {e[0].object(), e[1].object(), e[2].object()};
  uint32_t t0 = plat::TickCount();
  EXPECT_EQ(plat::WaitAny(objs, 3, 30), plat::kWaitTimeout);
  EXPECT_GE(plat::TicksSince(t0), 25u);
  e[2].Set();
  e[1].Set();
  EXPECT_EQ(plat::WaitAny(objs, 3, 0), 1u);
  EXPECT_EQ(plat::WaitAny(objs, 0, 0), plat::kWaitFailed);
}

}  // namespace
}  // namespace qs
