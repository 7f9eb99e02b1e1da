// The static-address rule shared by the program's "A&pply" and quillscan-cli
// set-ip: which addresses, netmasks and gateways are refused, which warned about.
#include <gtest/gtest.h>

#include "app/logic/address_rule.h"

using namespace qs::app;

namespace {
uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return (a << 24) | (b << 16) | (c << 8) | d; }
const uint32_t kMask20 = Ip(255, 255, 240, 0);
const uint32_t kGw = Ip(10, 71, 0, 254);
}  // namespace

TEST(AddressRuleTest, Netmasks) {
  EXPECT_TRUE(IsUsableNetmask(Ip(255, 0, 0, 0)));
  EXPECT_TRUE(IsUsableNetmask(kMask20));
  EXPECT_TRUE(IsUsableNetmask(Ip(255, 255, 255, 252)));
  EXPECT_TRUE(IsUsableNetmask(Ip(128, 0, 0, 0)));
  EXPECT_FALSE(IsUsableNetmask(0)) << "no subnet at all";
  EXPECT_FALSE(IsUsableNetmask(0xFFFFFFFFu)) << "no host part";
  EXPECT_FALSE(IsUsableNetmask(Ip(255, 0, 255, 0)));
  EXPECT_FALSE(IsUsableNetmask(Ip(0, 255, 255, 255)));
  EXPECT_FALSE(IsUsableNetmask(Ip(255, 255, 255, 253)));
}

TEST(AddressRuleTest, HostAddresses) {
  EXPECT_TRUE(IsHostAddress(Ip(10, 71, 0, 1), kMask20));
  EXPECT_TRUE(IsHostAddress(Ip(10, 71, 15, 254), kMask20));
  EXPECT_TRUE(IsHostAddress(Ip(10, 71, 1, 0), kMask20)) << "a .0 inside a /20 is a host";
  EXPECT_FALSE(IsHostAddress(Ip(10, 71, 0, 0), kMask20)) << "the subnet's own address";
  EXPECT_FALSE(IsHostAddress(Ip(10, 71, 15, 255), kMask20)) << "the subnet's broadcast";
  EXPECT_FALSE(IsHostAddress(0, kMask20)) << "an address control left blank";
  EXPECT_FALSE(IsHostAddress(Ip(10, 71, 0, 0), Ip(255, 255, 255, 254))) << "a /31 has no host by this rule";
  EXPECT_FALSE(IsHostAddress(Ip(10, 71, 0, 1), Ip(255, 255, 255, 254)));
}

TEST(AddressRuleTest, FirstProblemWins) {
  EXPECT_EQ(CheckStaticSettings(0, 0, 0).problem, StaticProblem::Netmask);
  EXPECT_EQ(CheckStaticSettings(0, kMask20, 0).problem, StaticProblem::Address);
  EXPECT_EQ(CheckStaticSettings(Ip(10, 71, 0, 0), kMask20, kGw).problem, StaticProblem::Address);
  EXPECT_EQ(CheckStaticSettings(Ip(10, 71, 15, 255), kMask20, kGw).problem, StaticProblem::Address);
  EXPECT_EQ(CheckStaticSettings(Ip(10, 71, 0, 88), kMask20, 0).problem, StaticProblem::GatewayZero);
  EXPECT_EQ(CheckStaticSettings(Ip(10, 71, 0, 88), kMask20, Ip(10, 71, 0, 0)).problem, StaticProblem::GatewayNotHost);
  EXPECT_EQ(CheckStaticSettings(Ip(10, 71, 0, 88), kMask20, Ip(10, 71, 15, 255)).problem,
            StaticProblem::GatewayNotHost);
  StaticCheck ok = CheckStaticSettings(Ip(10, 71, 0, 88), kMask20, kGw);
  EXPECT_EQ(ok.problem, StaticProblem::None);
  EXPECT_FALSE(ok.gatewayOutside);
}

TEST(AddressRuleTest, GatewayOutsideTheSubnetIsOnlyAWarning) {
  StaticCheck c = CheckStaticSettings(Ip(10, 71, 0, 88), kMask20, Ip(10, 72, 0, 254));
  EXPECT_EQ(c.problem, StaticProblem::None);
  EXPECT_TRUE(c.gatewayOutside);
  // The other subnet's own address is not judged: the device cannot tell.
  c = CheckStaticSettings(Ip(10, 71, 0, 88), kMask20, Ip(10, 72, 0, 0));
  EXPECT_EQ(c.problem, StaticProblem::None);
  EXPECT_TRUE(c.gatewayOutside);
  EXPECT_EQ(GatewayOutsideText(Ip(10, 71, 0, 88), kMask20, Ip(10, 72, 0, 254)),
            "the gateway 10.72.0.254 is outside the subnet of 10.71.0.88 with netmask 255.255.240.0: the device "
            "will not reach it");
}

TEST(AddressRuleTest, TextsNameTheValueAndWhatIsWrong) {
  EXPECT_EQ(StaticProblemText(StaticProblem::Address, Ip(10, 71, 0, 0), kMask20, kGw),
            "the address 10.71.0.0 is the subnet's own address for netmask 255.255.240.0");
  EXPECT_EQ(StaticProblemText(StaticProblem::Address, Ip(10, 71, 15, 255), kMask20, kGw),
            "the address 10.71.15.255 is the subnet's broadcast address for netmask 255.255.240.0");
  EXPECT_EQ(StaticProblemText(StaticProblem::Address, 0, kMask20, kGw), "the address 0.0.0.0 is no address for a device");
  EXPECT_EQ(StaticProblemText(StaticProblem::Netmask, 1, Ip(255, 0, 255, 0), kGw),
            "the netmask 255.0.255.0 is not a run of ones followed by zeros");
  EXPECT_EQ(StaticProblemText(StaticProblem::Netmask, 1, 0, kGw), "the netmask 0.0.0.0 leaves no room for a subnet");
  EXPECT_EQ(StaticProblemText(StaticProblem::GatewayZero, 1, kMask20, 0), "the gateway 0.0.0.0 is no address for a gateway");
  EXPECT_EQ(StaticProblemText(StaticProblem::GatewayNotHost, Ip(10, 71, 0, 88), kMask20, Ip(10, 71, 15, 255)),
            "the gateway 10.71.15.255 is the subnet's broadcast address for netmask 255.255.240.0");
  EXPECT_EQ(StaticProblemText(StaticProblem::None, 1, kMask20, kGw), "");
}
