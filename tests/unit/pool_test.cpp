#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "platform/tick.h"
#include "runtime/thread.h"

namespace qs {
namespace {

// Records the thread it ran on and optionally blocks until released.
class Job : public IThreadEntry {
 public:
  Job(plat::Event* started, plat::Event* release, plat::Event* done)
      : started_(started), release_(release), done_(done) {}
  void Run(const plat::Event&) override {
    tid = plat::CurrentThreadId();
    if (started_) started_->Set();
    if (release_) release_->Wait(10000);
    if (done_) done_->Set();
  }
  std::atomic<uint32_t> tid{0};

 private:
  plat::Event* started_;
  plat::Event* release_;
  plat::Event* done_;
};

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { ReopenPool(); }
  void TearDown() override {
    ShutdownPool();
    EXPECT_EQ(PoolThreadCount(), 0u);
  }
};

TEST_F(PoolTest, ShutdownWithNoThreadDoesNothing) {
  ShutdownPool();
  EXPECT_EQ(PoolThreadCount(), 0u);
}

TEST_F(PoolTest, SequentialJobsReuseOneThread) {
  plat::Event done1, done2;
  ASSERT_TRUE(done1.Create(true, false));
  ASSERT_TRUE(done2.Create(true, false));
  auto* j1 = CreateObject<RCObject2<Job>>(nullptr, nullptr, &done1);
  auto* j2 = CreateObject<RCObject2<Job>>(nullptr, nullptr, &done2);
  ASSERT_TRUE(RunOnPool(j1));
  ASSERT_TRUE(done1.Wait(5000));
  // The thread returns to the idle queue just after the job.
  for (int i = 0; i < 500 && PoolIdleCount() == 0; ++i) plat::SleepMs(2);
  ASSERT_EQ(PoolIdleCount(), 1u);
  ASSERT_TRUE(RunOnPool(j2));
  ASSERT_TRUE(done2.Wait(5000));
  EXPECT_EQ(j1->tid.load(), j2->tid.load());
  EXPECT_EQ(PoolThreadCount(), 1u);
  j1->Release();
  j2->Release();
}

TEST_F(PoolTest, OverlappingJobsUseTwoThreads) {
  plat::Event started1, release, done1, done2;
  for (auto* e : {&started1, &release, &done1, &done2}) ASSERT_TRUE(e->Create(true, false));
  auto* j1 = CreateObject<RCObject2<Job>>(&started1, &release, &done1);
  auto* j2 = CreateObject<RCObject2<Job>>(nullptr, nullptr, &done2);
  ASSERT_TRUE(RunOnPool(j1));
  ASSERT_TRUE(started1.Wait(5000));
  ASSERT_TRUE(RunOnPool(j2));
  ASSERT_TRUE(done2.Wait(5000));
  release.Set();
  ASSERT_TRUE(done1.Wait(5000));
  EXPECT_NE(j1->tid.load(), j2->tid.load());
  EXPECT_EQ(PoolThreadCount(), 2u);
  j1->Release();
  j2->Release();
}

TEST_F(PoolTest, ShutdownStopsAnIdleAndAStopAwareBusyThread) {
  class UntilStop : public IThreadEntry {
   public:
    explicit UntilStop(plat::Event* started) : started_(started) {}
    void Run(const plat::Event& stop) override {
      started_->Set();
      stop.Wait(20000);
    }
    plat::Event* started_;
  };
  plat::Event started;
  ASSERT_TRUE(started.Create(true, false));
  auto* j = CreateObject<RCObject2<UntilStop>>(&started);
  ASSERT_TRUE(RunOnPool(j));
  ASSERT_TRUE(started.Wait(5000));
  j->Release();  // the pool keeps its own reference while the job runs
  ShutdownPool();
  EXPECT_EQ(PoolThreadCount(), 0u);
}

// Counts its runs; optionally waits for its stop event.
class Counted : public IThreadEntry {
 public:
  explicit Counted(std::atomic<int>* runs, bool untilStop = false) : runs_(runs), untilStop_(untilStop) {}
  void Run(const plat::Event& stop) override {
    runs_->fetch_add(1);
    if (untilStop_) stop.Wait(20000);
  }

 private:
  std::atomic<int>* runs_;
  bool untilStop_;
};

TEST_F(PoolTest, SubmissionsRacingAShutdownEitherFailOrRunExactlyOnce) {
  for (int round = 0; round < 20; ++round) {
    ReopenPool();
    std::atomic<int> accepted{0}, runs{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> submitters;
    for (int i = 0; i < 4; ++i) {
      submitters.emplace_back([&] {
        while (!go) std::this_thread::yield();
        for (int k = 0; k < 50; ++k) {
          Ref<IThreadEntry> w = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Counted>>(&runs));
          if (RunOnPool(w.get())) accepted.fetch_add(1);
        }
      });
    }
    go = true;
    plat::SleepMs(1);
    EXPECT_EQ(ShutdownPool(5000), 0u) << "round " << round;
    for (auto& t : submitters) t.join();
    // Everything accepted ran before the shutdown returned, or runs now on a
    // thread that was already told to stop; nothing accepted is lost.
    for (int i = 0; i < 200 && runs.load() < accepted.load(); ++i) plat::SleepMs(10);
    EXPECT_EQ(runs.load(), accepted.load()) << "round " << round;
    EXPECT_EQ(PoolThreadCount(), 0u);
  }
}

TEST_F(PoolTest, NoWorkIsTakenOnceShutDownUntilReopened) {
  std::atomic<int> runs{0};
  Ref<IThreadEntry> w = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Counted>>(&runs));
  ASSERT_TRUE(RunOnPool(w.get()));
  ShutdownPool();
  EXPECT_FALSE(PoolIsOpen());
  Ref<IPoolJob> control;
  EXPECT_FALSE(RunOnPool(w.get(), &control));
  EXPECT_FALSE(control);
  EXPECT_EQ(PoolThreadCount(), 0u);
  ReopenPool();
  ASSERT_TRUE(RunOnPool(w.get(), &control));
  ASSERT_TRUE(control);
  EXPECT_TRUE(control->WaitEnded(5000));
  EXPECT_EQ(runs.load(), 2);
}

TEST_F(PoolTest, EachJobHasItsOwnStopEvent) {
  std::atomic<int> runs{0};
  Ref<IThreadEntry> a = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Counted>>(&runs, true));
  Ref<IThreadEntry> b = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Counted>>(&runs, true));
  Ref<IPoolJob> ja, jb;
  ASSERT_TRUE(RunOnPool(a.get(), &ja));
  ASSERT_TRUE(RunOnPool(b.get(), &jb));
  uint32_t t0 = plat::TickCount();
  ja->Stop();
  EXPECT_TRUE(ja->WaitEnded(5000));
  EXPECT_LT(plat::TicksSince(t0), 1000u);
  EXPECT_FALSE(jb->WaitEnded(200));  // the other job runs on
  jb->Stop();
  EXPECT_TRUE(jb->WaitEnded(5000));
  // A job ended long ago: stopping it again touches nothing else.
  ja->Stop();
  Ref<IPoolJob> jc;
  ASSERT_TRUE(RunOnPool(a.get(), &jc));  // reuses a thread whose earlier job was stopped
  EXPECT_FALSE(jc->WaitEnded(200));
  jc->Stop();
  EXPECT_TRUE(jc->WaitEnded(5000));
  EXPECT_EQ(runs.load(), 3);
}

// Ignores its stop event until the test lets it go.
class Deaf : public IThreadEntry {
 public:
  explicit Deaf(plat::Event* go) : go_(go) {}
  void Run(const plat::Event&) override { go_->Wait(20000); }

 private:
  plat::Event* go_;
};

TEST_F(PoolTest, ShutdownWaitsABoundedTimeForWorkThatIgnoresItsStop) {
  plat::Event go;
  ASSERT_TRUE(go.Create(true, false));
  Ref<IThreadEntry> w = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Deaf>>(&go));
  Ref<IPoolJob> control;
  ASSERT_TRUE(RunOnPool(w.get(), &control));
  uint32_t t0 = plat::TickCount();
  EXPECT_EQ(ShutdownPool(300), 1u);  // one thread did not end in time
  uint32_t spent = plat::TicksSince(t0);
  EXPECT_GE(spent, 250u);
  EXPECT_LT(spent, 2000u);
  EXPECT_EQ(PoolThreadCount(), 0u);
  go.Set();  // the left-over thread ends on its own, using nothing freed
  EXPECT_TRUE(control->WaitEnded(5000));
  plat::SleepMs(50);
}

TEST_F(PoolTest, IdleThreadsEndAfterAWhile) {
  SetPoolIdleTimeout(100);
  std::atomic<int> runs{0};
  Ref<IThreadEntry> a = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Counted>>(&runs, true));
  Ref<IThreadEntry> b = Ref<IThreadEntry>::Adopt(CreateObject<RCObject2<Counted>>(&runs));
  Ref<IPoolJob> ja, jb;
  ASSERT_TRUE(RunOnPool(a.get(), &ja));
  ASSERT_TRUE(RunOnPool(b.get(), &jb));
  ASSERT_TRUE(jb->WaitEnded(5000));
  EXPECT_EQ(PoolThreadCount(), 2u);
  for (int i = 0; i < 200 && PoolThreadCount() > 1; ++i) plat::SleepMs(10);
  EXPECT_EQ(PoolThreadCount(), 1u);  // the busy one stays
  EXPECT_EQ(PoolIdleCount(), 0u);
  ja->Stop();
  ASSERT_TRUE(ja->WaitEnded(5000));
  for (int i = 0; i < 200 && PoolThreadCount() > 0; ++i) plat::SleepMs(10);
  EXPECT_EQ(PoolThreadCount(), 0u);
  // The pool makes a thread again when work comes.
  Ref<IPoolJob> jc;
  ASSERT_TRUE(RunOnPool(b.get(), &jc));
  EXPECT_TRUE(jc->WaitEnded(5000));
  EXPECT_EQ(runs.load(), 3);
  SetPoolIdleTimeout(kPoolIdleTimeoutMs);
}

}  // namespace
}  // namespace qs
