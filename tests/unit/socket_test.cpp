#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/tick.h"

namespace qs::plat {
namespace {

constexpr uint32_t kLoop = 0x7F000001;

TEST(Udp, OversizedDatagramIsTruncatedAndIsConsumed) {
  SocketsLibrary lib;
  UdpSocket rx, tx;
  ASSERT_TRUE(rx.Open() && rx.Bind(kLoop, 0));
  ASSERT_TRUE(tx.Open());
  std::vector<char> big(1500, 'x');
  uint16_t port = rx.LocalAddress().port;
  ASSERT_EQ(tx.SendTo(big.data(), big.size(), kLoop, port), 1500);
  ASSERT_EQ(tx.SendTo("ok", 2, kLoop, port), 2);
  char buf[1024];
  SockAddr from;
  EXPECT_EQ(rx.RecvFromTimeout(buf, sizeof buf, &from, 2000), kSockTruncated);
  EXPECT_EQ(from.address, kLoop);
  EXPECT_EQ(rx.RecvFromTimeout(buf, sizeof buf, nullptr, 2000), 2);
  EXPECT_EQ(rx.RecvFromTimeout(buf, sizeof buf, nullptr, 30), kSockTimeout);
}

#ifndef _WIN32
// Windows refuses it; Wine does not, so only the native build can check that
// the Linux layer behaves as Windows does.
TEST(Udp, BindToAddressThatIsNotLocalFails) {
  SocketsLibrary lib;
  UdpSocket s;
  ASSERT_TRUE(s.Open());
  EXPECT_FALSE(s.Bind(0xC0000201 /* 192.0.2.1, documentation range */, 0));
}
#endif

TEST(Tcp, ConnectSendReceiveAndPeerClose) {
  SocketsLibrary lib;
  TcpSocket server, client, conn;
  ASSERT_TRUE(server.Listen(kLoop, 0));
  uint16_t port = server.LocalAddress().port;
  ASSERT_TRUE(client.Connect(kLoop, port, 2000));
  ASSERT_TRUE(server.Accept(conn, 2000));
  ASSERT_TRUE(client.SendAll("hello", 5, 2000));
  char buf[8] = {};
  ASSERT_TRUE(conn.RecvAll(buf, 5, 2000));
  EXPECT_EQ(std::memcmp(buf, "hello", 5), 0);
  EXPECT_EQ(conn.Recv(buf, sizeof buf, 30), kSockTimeout);
  client.Close();
  EXPECT_EQ(conn.Recv(buf, sizeof buf, 2000), 0);
}

// The programming connection asks for quick acknowledgements; a socket that
// is not connected cannot have them, and receiving goes on as before (Linux
// renews the setting after each receive).
TEST(Tcp, QuickAcknowledgementOnAConnection) {
  SocketsLibrary lib;
  TcpSocket server, client, conn;
  EXPECT_FALSE(client.SetQuickAck());
  ASSERT_TRUE(server.Listen(kLoop, 0));
  ASSERT_TRUE(client.Connect(kLoop, server.LocalAddress().port, 2000));
  ASSERT_TRUE(server.Accept(conn, 2000));
  bool set = client.SetQuickAck();
#ifdef _WIN32
  if (!set) GTEST_SKIP() << "this system has no per-connection acknowledgement frequency (Wine)";
#else
  EXPECT_TRUE(set);
#endif
  char buf[8] = {};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(conn.SendAll("ab", 2, 2000));
    ASSERT_TRUE(client.RecvAll(buf, 2, 2000));
    EXPECT_EQ(std::memcmp(buf, "ab", 2), 0);
  }
}

TEST(Tcp, ConnectToClosedPortFailsWithinTime) {
  SocketsLibrary lib;
  TcpSocket probe;
  ASSERT_TRUE(probe.Listen(kLoop, 0));
  uint16_t port = probe.LocalAddress().port;
  probe.Close();
  TcpSocket c;
  EXPECT_FALSE(c.Connect(kLoop, port, 2000));
}

// Sets the event after ms, from another thread.
class SetLater {
 public:
  SetLater(Event& e, uint32_t ms) : t_([&e, ms] {
      SleepMs(ms);
      e.Set();
    }) {}
  ~SetLater() { t_.join(); }

 private:
  std::thread t_;
};

TEST(Udp, AWaitEndsOnTheStopEventOrTheTime) {
  SocketsLibrary lib;
  UdpSocket rx;
  ASSERT_TRUE(rx.Open() && rx.Bind(kLoop, 0));
  Event stop;
  ASSERT_TRUE(stop.Create(true, false));
  char buf[16];
  uint32_t t0 = TickCount();
  {
    SetLater later(stop, 100);
    EXPECT_EQ(rx.RecvFrom(buf, sizeof buf, nullptr, WaitLimit{5000, stop.object()}), kSockStopped);
  }
  EXPECT_LT(TicksSince(t0), 2000u);
  stop.Reset();
  t0 = TickCount();
  EXPECT_EQ(rx.RecvFrom(buf, sizeof buf, nullptr, WaitLimit{80, stop.object()}), kSockTimeout);
  EXPECT_GE(TicksSince(t0), 70u);
}

// A connected pair on the loopback interface.
struct Pair {
  SocketsLibrary lib;
  TcpSocket server, client, conn;
  bool Make() {
    if (!server.Listen(kLoop, 0)) return false;
    return client.Connect(kLoop, server.LocalAddress().port, 2000) && server.Accept(conn, 2000);
  }
};

TEST(Tcp, ReceivingExactlyEndsOnStopTimePeerCloseOrTheLastByte) {
  Pair p;
  ASSERT_TRUE(p.Make());
  Event stop;
  ASSERT_TRUE(stop.Create(true, false));
  char buf[10] = {};
  ASSERT_TRUE(p.conn.SendAll("abcd", 4, 2000));
  uint32_t t0 = TickCount();
  {
    SetLater later(stop, 100);
    EXPECT_EQ(p.client.RecvExactly(buf, 10, WaitLimit{5000, stop.object()}), kSockStopped);
  }
  EXPECT_LT(TicksSince(t0), 2000u);
  stop.Reset();
  // The four bytes were taken; six more, in two pieces, complete a read.
  ASSERT_TRUE(p.conn.SendAll("efg", 3, 2000));
  EXPECT_EQ(p.client.RecvExactly(buf, 6, WaitLimit{60, stop.object()}), kSockTimeout);
  ASSERT_TRUE(p.conn.SendAll("hij", 3, 2000));
  EXPECT_EQ(p.client.RecvExactly(buf, 3, WaitLimit{2000, stop.object()}), kSockOk);
  EXPECT_EQ(std::memcmp(buf, "hij", 3), 0);
  ASSERT_TRUE(p.conn.SendAll("kl", 2, 2000));
  p.conn.Close();
  EXPECT_EQ(p.client.RecvExactly(buf, 4, WaitLimit{2000, stop.object()}), kSockClosed);
}

TEST(Tcp, SendingAllEndsOnStopOrTimeWhenThePeerDoesNotRead) {
  Pair p;
  ASSERT_TRUE(p.Make());
  Event stop;
  ASSERT_TRUE(stop.Create(true, false));
  std::vector<char> big(32 << 20, 'x');  // far beyond what the buffers of both ends hold
  uint32_t t0 = TickCount();
  EXPECT_EQ(p.client.SendAll(big.data(), big.size(), WaitLimit{150, stop.object()}), kSockTimeout);
  uint32_t spent = TicksSince(t0);
  EXPECT_GE(spent, 140u);
  EXPECT_LT(spent, 3000u);
  t0 = TickCount();
  {
    SetLater later(stop, 100);
    EXPECT_EQ(p.client.SendAll(big.data(), big.size(), WaitLimit{10000, stop.object()}), kSockStopped);
  }
  EXPECT_LT(TicksSince(t0), 3000u);
}

}  // namespace
}  // namespace qs::plat
