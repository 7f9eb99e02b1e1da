// The simulator's event loop: timers in due order and cancellable, sockets
// called by their own callbacks, and a socket unwatched in the middle of a
// round never called again.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "devsim/loop.h"

namespace qs::devsim {
namespace {

struct Pair {
  int fd[2] = {-1, -1};
  Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd), 0); }
  ~Pair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
};

void RunFor(EventLoop& loop, uint32_t ms) {
  uint64_t end = EventLoop::Now() + ms;
  while (EventLoop::Now() < end) loop.RunOnce(5);
}

TEST(EventLoop, TimersRunInDueOrderAndCancelledOnesNever) {
  EventLoop loop;
  std::string why;
  ASSERT_TRUE(loop.Open(&why)) << why;
  std::string order;
  loop.After(40, [&] { order += "c"; });
  loop.After(0, [&] { order += "a"; });
  loop.After(20, [&] { order += "b1"; });
  loop.After(20, [&] { order += "b2"; });  // same time: in the order set
  EventLoop::Id gone = loop.After(10, [&] { order += "x"; });
  loop.After(5, [&] {
    order += "s";
    loop.After(0, [&] { order += "n"; });  // set by a timer: runs in a later round
  });
  loop.Cancel(gone);
  EXPECT_EQ(loop.timers(), 6u - 1u);
  RunFor(loop, 80);
  EXPECT_EQ(order, "asnb1b2c");
  EXPECT_EQ(loop.timers(), 0u);

  loop.After(10, [&] { order += "y"; });
  loop.After(20, [&] { order += "z"; });
  loop.CancelTimers();
  RunFor(loop, 40);
  EXPECT_EQ(order, "asnb1b2c");
}

TEST(EventLoop, EachSocketHasItsCallbackAndUnwatchingStopsItAtOnce) {
  EventLoop loop;
  std::string why;
  ASSERT_TRUE(loop.Open(&why)) << why;
  Pair p, q;
  std::vector<std::string> calls;
  EventLoop::Id idP = 0, idQ = 0;
  // each callback unwatches the other: in a round where both are ready only
  // the first one runs
  idP = loop.Watch(p.fd[0], false, [&](uint32_t ev) {
    calls.push_back("p" + std::to_string(ev));
    char b[16];
    while (read(p.fd[0], b, sizeof b) > 0) {
    }
    loop.Unwatch(idQ);
  });
  idQ = loop.Watch(q.fd[0], false, [&](uint32_t ev) {
    calls.push_back("q" + std::to_string(ev));
    char b[16];
    while (read(q.fd[0], b, sizeof b) > 0) {
    }
    loop.Unwatch(idP);
  });
  ASSERT_NE(idP, 0u);
  ASSERT_NE(idQ, 0u);
  EXPECT_NE(idP, idQ);
  EXPECT_EQ(loop.sockets(), 2u);
  loop.RunOnce(0);
  EXPECT_TRUE(calls.empty());  // nothing to read yet
  ASSERT_EQ(write(p.fd[1], "x", 1), 1);
  ASSERT_EQ(write(q.fd[1], "y", 1), 1);
  loop.RunOnce(100);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].substr(1), std::to_string(EventLoop::kReadable));
  EXPECT_EQ(loop.sockets(), 1u);
  // the survivor goes on being called; the other one never again
  bool pSurvived = calls[0][0] == 'p';
  ASSERT_EQ(write(p.fd[1], "x", 1), 1);
  ASSERT_EQ(write(q.fd[1], "y", 1), 1);
  loop.RunOnce(100);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1][0], pSurvived ? 'p' : 'q');
}

TEST(EventLoop, WritableOnlyWhenAskedAndHangupReported) {
  EventLoop loop;
  std::string why;
  ASSERT_TRUE(loop.Open(&why)) << why;
  Pair p;
  std::vector<uint32_t> seen;
  EventLoop::Id id = loop.Watch(p.fd[0], false, [&](uint32_t ev) { seen.push_back(ev); });
  loop.RunOnce(20);
  EXPECT_TRUE(seen.empty());  // writable, but not asked for
  ASSERT_TRUE(loop.SetWritable(id, true));
  loop.RunOnce(20);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], uint32_t(EventLoop::kWritable));
  ASSERT_TRUE(loop.SetWritable(id, false));
  close(p.fd[1]);
  p.fd[1] = -1;
  loop.RunOnce(20);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[1] & EventLoop::kHangup);
  EXPECT_TRUE(seen[1] & EventLoop::kReadable);  // the end of the stream reads as 0 bytes
  loop.Unwatch(id);
  EXPECT_FALSE(loop.SetWritable(id, true));
  EXPECT_EQ(loop.Watch(-1, false, [](uint32_t) {}), 0u);
}

}  // namespace
}  // namespace qs::devsim
