#include <gtest/gtest.h>

#include "platform/event.h"
#include "platform/socket.h"
#include "platform/tick.h"

namespace qs::plat {
namespace {

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
