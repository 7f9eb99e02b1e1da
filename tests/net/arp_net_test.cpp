// The Linux listing of the ARP cache, inside the test network: a permanent
// neighbour entry made for the test and the simulator's own address, learnt
// by the kernel after one datagram, come back through the listing, and the
// address for a MAC uses them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/arp_table.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "tests/support/sim_client.h"

namespace qs::net {
namespace {

using test::TestNet;

const ArpEntry* Find(const std::vector<ArpEntry>& t, uint32_t address) {
  for (const ArpEntry& e : t)
    if (e.address == address) return &e;
  return nullptr;
}

TEST(ArpNet, TheKernelsNeighbourTableIsListed) {
  if (!TestNet::Available()) GTEST_SKIP() << "needs the test network (testnet/run.sh)";
  // Only ever inside the test network's own namespace.
  ASSERT_EQ(std::system("ip neigh replace 10.71.0.77 lladdr 02:00:00:07:07:07 dev qsa nud permanent"), 0);
  plat::SocketsLibrary sockets;
  plat::UdpSocket s;
  ASSERT_TRUE(s.Open());
  ASSERT_TRUE(s.Bind(TestNet::PcA(), 0));
  s.SendTo("?", 1, TestNet::Sim(), 9);  // the kernel resolves the simulator's address

  std::vector<ArpEntry> t;
  const uint32_t start = plat::TickCount();
  do {
    t = ReadArpTable();
    if (Find(t, TestNet::Sim())) break;
    plat::SleepMs(20);
  } while (plat::TicksSince(start) < 3000);
  std::system("ip neigh del 10.71.0.77 dev qsa");

  const ArpEntry* manual = Find(t, 0x0A47004D);
  ASSERT_NE(manual, nullptr);
  const uint8_t want[6] = {0x02, 0x00, 0x00, 0x07, 0x07, 0x07};
  EXPECT_EQ(std::memcmp(manual->mac, want, 6), 0);
  const ArpEntry* sim = Find(t, TestNet::Sim());
  ASSERT_NE(sim, nullptr);
  const uint8_t zero[6] = {};
  EXPECT_NE(std::memcmp(sim->mac, zero, 6), 0);

  uint32_t out = 0;
  EXPECT_EQ(AddressForMac(sim->mac, TestNet::PcA(), TestNet::Mask(), out), AddressSource::Cache);
  EXPECT_EQ(out, TestNet::Sim());
  // On the other segment the same MAC is unknown: a free address of that subnet is drawn.
  EXPECT_EQ(AddressForMac(sim->mac, TestNet::PcB(), TestNet::Mask(), out), AddressSource::Drawn);
  EXPECT_EQ(out & TestNet::Mask(), TestNet::PcB() & TestNet::Mask());
  EXPECT_NE(out, TestNet::PcB());
}

}  // namespace
}  // namespace qs::net
