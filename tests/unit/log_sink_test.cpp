#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "runtime/log_sink.h"

namespace qs {
namespace {

TEST(JobLog, CarriesKindJobTextAndAttemptToTheSink) {
  Ref<MemoryLogSink> sink = Ref<MemoryLogSink>::Adopt(CreateObject<RCObject2<MemoryLogSink>>());
  JobLog log(sink.get(), "reboot");
  ASSERT_TRUE(log.on());
  log(LogKind::Sent, "request to %u.%u.%u.%u", QS_LOG_IP(0x0A470001u));
  log.SetAttempt(2, 3);
  log(LogKind::Skipped, "%d bytes", 7);
  auto e = sink->entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(MemoryLogSink::Format(e[0]), "reboot sent request to 10.71.0.1");
  EXPECT_EQ(MemoryLogSink::Format(e[1]), "reboot skipped [2/3] 7 bytes");
  EXPECT_EQ(e[1].kind, LogKind::Skipped);
  log.SetAttempt(1, 0);
  log(LogKind::Attempt, "open-ended");
  EXPECT_EQ(MemoryLogSink::Format(sink->entries()[2]), "reboot attempt [1] open-ended");
}

TEST(JobLog, WithoutASinkNothingIsKept) {
  JobLog log;
  EXPECT_FALSE(log.on());
  log(LogKind::Note, "%s", "nobody listens");  // nothing to reach, nothing to fail
  JobLog none(nullptr, "scan");
  EXPECT_FALSE(none.on());
}

TEST(MemoryLogSink, TakesEventsFromSeveralThreadsAtOnce) {
  Ref<MemoryLogSink> sink = Ref<MemoryLogSink>::Adopt(CreateObject<RCObject2<MemoryLogSink>>());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&sink, t] {
      JobLog log(sink.get(), "scan");
      for (int i = 0; i < 1000; ++i) log(LogKind::Received, "%d:%d", t, i);
    });
  for (auto& t : threads) t.join();
  auto e = sink->entries();
  ASSERT_EQ(e.size(), 4000u);
  std::vector<int> next(4, 0);
  for (const auto& x : e) {
    int t = x.text[0] - '0';
    EXPECT_EQ(x.text, std::to_string(t) + ":" + std::to_string(next[t]));  // each thread's in its order
    ++next[t];
  }
}

}  // namespace
}  // namespace qs
