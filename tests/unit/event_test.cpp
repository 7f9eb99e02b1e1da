#include <gtest/gtest.h>

#include "platform/event.h"
#include "platform/socket.h"
#include "platform/tick.h"

#include <algorithm>
#include <vector>

namespace qs::plat {
namespace {

uint32_t Median(std::vector<uint32_t> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The RAM-program stream keeps a 5 ms grid with these two: a tick count
// that moves in single milliseconds (Windows' GetTickCount moves in 15.6 ms
// steps), and short waits that end near their time while a fine timer is
// held. Medians, so that a busy machine's stray delays do not count.
TEST(Timing, TickCountMovesInSingleMilliseconds) {
  std::vector<uint32_t> steps;
  uint32_t last = TickCount();
  const uint32_t start = last;
  while (steps.size() < 15 && TickCount() - start < 2000) {
    const uint32_t now = TickCount();
    if (now != last) steps.push_back(now - last);
    last = now;
  }
  ASSERT_GE(steps.size(), 15u);
  EXPECT_LE(Median(steps), 2u);
}

TEST(Timing, ShortWaitsEndNearTheirTimeUnderAFineTimer) {
  FineTimerScope fine;
  Event never;
  ASSERT_TRUE(never.Create(true, false));
  const WaitObject objs[1] = {never.object()};
  std::vector<uint32_t> took;
  for (int i = 0; i < 15; ++i) {
    const uint32_t t0 = TickCount();
    ASSERT_EQ(WaitAny(objs, 1, 2), kWaitTimeout);
    took.push_back(TickCount() - t0);
  }
  EXPECT_GE(Median(took), 1u);
  EXPECT_LE(Median(took), 5u);
}

// Socket readiness and events in one wait, over loopback.
TEST(WaitAny, SocketReadinessAndEventsTogether) {
  SocketsLibrary lib;
  ASSERT_TRUE(lib.ok());
  UdpSocket rx, tx;
  ASSERT_TRUE(rx.Open());
  ASSERT_TRUE(rx.Bind(0x7F000001, 0));
  ASSERT_TRUE(rx.SelectRead());
  ASSERT_TRUE(tx.Open());
  Event stop;
  ASSERT_TRUE(stop.Create(true, false));
  WaitObject objs[2] = {stop.object(), rx.readable()};
  EXPECT_EQ(WaitAny(objs, 2, 20), kWaitTimeout);
  uint16_t port = rx.LocalAddress().port;
  ASSERT_EQ(tx.SendTo("abc", 3, 0x7F000001, port), 3);
  ASSERT_EQ(WaitAny(objs, 2, 2000), 1u);
  char buf[16];
  SockAddr from;
  EXPECT_EQ(rx.RecvFrom(buf, sizeof buf, &from), 3);
  EXPECT_EQ(from.address, 0x7F000001u);
  EXPECT_EQ(rx.RecvFrom(buf, sizeof buf, &from), kSockWouldBlock);
  stop.Set();
  EXPECT_EQ(WaitAny(objs, 2, 2000), 0u);
}

}  // namespace
}  // namespace qs::plat
