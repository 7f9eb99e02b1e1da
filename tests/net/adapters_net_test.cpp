// The system's own interface list, inside the test network: qsa and qsb are
// up, qsc is down, lo is loopback.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "net/adapters.h"
#include "platform/socket.h"
#include "tests/support/sim_client.h"

namespace qs::net {
namespace {

using test::TestNet;

void Collect(uint32_t a, uint32_t m, void* ctx) {
  static_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(ctx)->push_back({a, m});
}

TEST(AdaptersNet, OnlyTheInterfacesThatAreUpAndNotLoopbackAreVisited) {
  if (!TestNet::Available()) GTEST_SKIP() << "needs the test network (testnet/run.sh)";
  plat::SocketsLibrary sockets;
  ASSERT_TRUE(sockets.ok());
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  EXPECT_EQ(VisitInterfaces(Collect, &seen), 2u);
  const std::vector<std::pair<uint32_t, uint32_t>> want = {{TestNet::PcA(), TestNet::Mask()},
                                                           {TestNet::PcB(), TestNet::Mask()}};
  EXPECT_EQ(seen, want);

  // The list gives the same, in the same order, every time it is built.
  InterfaceList list(true);
  ASSERT_TRUE(list.Build());
  ASSERT_EQ(list.entries().size(), 2u);
  EXPECT_EQ(list.entries()[0].address, TestNet::PcA());
  EXPECT_EQ(list.entries()[1].address, TestNet::PcB());

  EXPECT_TRUE(IsLocalAddress(0x0A470A0Bu));           // 10.71.10.11
  EXPECT_TRUE(IsLocalAddress(0x0A480FFEu));           // 10.72.15.254
  EXPECT_FALSE(IsLocalAddress(TestNet::PcDown()));    // the down interface's own subnet
  EXPECT_FALSE(IsLocalAddress(0x7F000001u));          // loopback
  EXPECT_EQ(NetmaskFor(list, 0x0A470A34u), TestNet::Mask());
  EXPECT_EQ(NetmaskFor(list, 0x0A490001u), 0u);
}

}  // namespace
}  // namespace qs::net
