// The socket layer inside a test network: multicast leaving through the
// chosen interface and received where the group was joined, and TCP connects
// that end on their deadline or their stop event.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "platform/tick.h"
#include "tests/support/sim_client.h"

namespace qs::plat {
namespace {

constexpr uint32_t kGroup = 0xEF000040;  // 239.0.0.64
constexpr uint16_t kPort = 60892;

class SocketNet : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::TestNet::Available()) << "run inside testnet/run.sh"; }
  SocketsLibrary lib_;
};

// A receiver on the interface's address that joined the group there.
bool Member(UdpSocket& s, uint32_t iface) {
  return s.Open() && s.Bind(iface, kPort) && s.JoinGroup(kGroup, iface);
}

bool SendVia(uint32_t iface, const std::string& text) {
  UdpSocket tx;
  return tx.Open() && tx.Bind(iface, 0) && tx.SetMulticastInterface(iface) && tx.SetMulticastTtl(1) &&
         tx.SetMulticastLoop(true) &&
         tx.SendTo(text.data(), text.size(), kGroup, kPort) == static_cast<int>(text.size());
}

std::string Take(UdpSocket& s, uint32_t ms) {
  char buf[64];
  SockAddr from;
  int n = s.RecvFrom(buf, sizeof buf, &from, WaitLimit{ms, WaitObject{}});
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

TEST_F(SocketNet, MulticastLeavesThroughTheChosenInterfaceAndReachesMembersThere) {
  const uint32_t a = test::TestNet::PcA(), b = test::TestNet::PcB();
  UdpSocket onA, onB;
  ASSERT_TRUE(Member(onA, a));
  ASSERT_TRUE(Member(onB, b));
  ASSERT_TRUE(SendVia(a, "via A"));
  EXPECT_EQ(Take(onA, 2000), "via A");
  EXPECT_EQ(Take(onB, 300), "");
  ASSERT_TRUE(SendVia(b, "via B"));
  EXPECT_EQ(Take(onB, 2000), "via B");
  EXPECT_EQ(Take(onA, 300), "");
  // After leaving the group nothing more arrives.
  ASSERT_TRUE(onA.LeaveGroup(kGroup, a));
  ASSERT_TRUE(SendVia(a, "gone"));
  EXPECT_EQ(Take(onA, 300), "");
}

// 10.71.3.3: inside segment A's subnet, where no host answers.
constexpr uint32_t kNobody = 0x0A470303;

TEST_F(SocketNet, ConnectToAnAddressWithoutAHostEndsOnItsDeadlineOrItsStop) {
  TcpSocket c;
  uint32_t t0 = TickCount();
  EXPECT_EQ(c.Connect(kNobody, 4000, WaitLimit{300, WaitObject{}}, test::TestNet::PcA()), kSockTimeout);
  uint32_t spent = TicksSince(t0);
  EXPECT_GE(spent, 280u);
  EXPECT_LT(spent, 2000u);
  EXPECT_FALSE(c.is_open());

  Event stop;
  ASSERT_TRUE(stop.Create(true, false));
  std::thread later([&] {
    SleepMs(100);
    stop.Set();
  });
  t0 = TickCount();
  EXPECT_EQ(c.Connect(kNobody, 4000, WaitLimit{10000, stop.object()}), kSockStopped);
  spent = TicksSince(t0);
  later.join();
  EXPECT_GE(spent, 80u);
  EXPECT_LT(spent, 2000u);
}

TEST_F(SocketNet, ConnectSendAndReceiveAcrossTheTestNetwork) {
  // The simulator's control port: a real peer on the device side.
  TcpSocket c;
  ASSERT_EQ(c.Connect(test::TestNet::Sim(), test::TestNet::SimPort(), WaitLimit{3000, WaitObject{}}), kSockOk);
  const char line[] = "counts\n";
  ASSERT_EQ(c.SendAll(line, sizeof line - 1, WaitLimit{3000, WaitObject{}}), kSockOk);
  char buf[8] = {};
  ASSERT_EQ(c.RecvExactly(buf, 8, WaitLimit{3000, WaitObject{}}), kSockOk);
  EXPECT_EQ(std::string(buf, 8), "devices=");
}

}  // namespace
}  // namespace qs::plat
