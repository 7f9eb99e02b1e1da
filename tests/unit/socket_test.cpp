#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/socket.h"

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

TEST(Tcp, ConnectToClosedPortFailsWithinTime) {
  SocketsLibrary lib;
  TcpSocket probe;
  ASSERT_TRUE(probe.Listen(kLoop, 0));
  uint16_t port = probe.LocalAddress().port;
  probe.Close();
  TcpSocket c;
  EXPECT_FALSE(c.Connect(kLoop, port, 2000));
}

}  // namespace
}  // namespace qs::plat
