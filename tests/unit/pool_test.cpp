#include <gtest/gtest.h>

#include <atomic>

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

}  // namespace
}  // namespace qs
