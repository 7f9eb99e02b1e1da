// The DHCP flag on Linux: an address with a lease lifetime (as DHCP clients
// set them) counts as DHCP, one set by hand does not. Changes the test
// network's own PC interface qsa, inside its namespace.
#include <gtest/gtest.h>

#include <cstdlib>

#include "net/adapters.h"
#include "tests/support/sim_client.h"

namespace qs::net {
namespace {

using test::TestNet;

TEST(DhcpNet, LeasedAddressesCountAsDhcp) {
  if (!TestNet::Available()) GTEST_SKIP() << "needs the test network (testnet/run.sh)";
  ASSERT_EQ(std::system("ip addr add 10.71.0.9/20 dev qsa valid_lft 600 preferred_lft 600"), 0);
  InterfaceList list(true);
  ASSERT_TRUE(list.Build());
  int leased = -1, manual = -1;
  for (const InterfaceEntry& e : list.entries()) {
    if (e.address == 0x0A470009u) leased = e.dhcp;
    if (e.address == TestNet::PcA()) manual = e.dhcp;
  }
  EXPECT_EQ(leased, 1);
  EXPECT_EQ(manual, 0);
  // A list without the flag leaves it 0.
  InterfaceList plain(false);
  ASSERT_TRUE(plain.Build());
  for (const InterfaceEntry& e : plain.entries()) EXPECT_EQ(e.dhcp, 0);
  EXPECT_EQ(std::system("ip addr del 10.71.0.9/20 dev qsa"), 0);
}

}  // namespace
}  // namespace qs::net
