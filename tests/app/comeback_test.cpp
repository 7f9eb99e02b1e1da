// Which report of a device ends the wait after new network settings and a
// reboot: only one that shows the new settings, and when those equal the old
// ones, only after the device was once seen silent.
#include <gtest/gtest.h>

#include "app/logic/comeback.h"

using namespace qs::app;

namespace {
uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return (a << 24) | (b << 16) | (c << 8) | d; }
const uint32_t kMask = Ip(255, 255, 240, 0);
const uint32_t kGw = Ip(10, 71, 0, 254);

RecordSettings OnDhcp(uint32_t current) { return RecordSettings{true, current, 0, kMask, kGw}; }
RecordSettings OnStatic(uint32_t a, uint32_t mask = kMask, uint32_t gw = kGw) {
  return RecordSettings{false, a, a, mask, gw};
}
NetSettings WantStatic(uint32_t a, uint32_t mask = kMask, uint32_t gw = kGw) { return NetSettings{false, a, mask, gw}; }
NetSettings WantDhcp() { return NetSettings{true, Ip(1, 2, 3, 4), 0, 0}; }  // fields not sent on DHCP
}  // namespace

TEST(ComebackTest, DhcpToStaticTakesOnlyTheNewAddress) {
  ComebackCheck c(OnDhcp(Ip(10, 71, 8, 1)), WantStatic(Ip(10, 71, 0, 77)));
  EXPECT_FALSE(c.sameAsBefore());
  EXPECT_FALSE(c.Accept(true, OnDhcp(Ip(10, 71, 8, 1)))) << "a report from before the restart";
  EXPECT_TRUE(c.Accept(true, OnStatic(Ip(10, 71, 0, 77)))) << "no silence needed when the settings differ";
  EXPECT_FALSE(c.Accept(true, OnStatic(Ip(10, 71, 0, 78))));
  RecordSettings wrongStatic = OnStatic(Ip(10, 71, 0, 77));
  wrongStatic.currentAddress = Ip(10, 71, 8, 1);
  EXPECT_FALSE(c.Accept(true, wrongStatic)) << "configured, but not at that address";
  EXPECT_FALSE(c.Accept(false, OnStatic(Ip(10, 71, 0, 77)))) << "a report without settings shows no mode";
}

TEST(ComebackTest, StaticToDhcpTakesAnyDhcpAddress) {
  ComebackCheck c(OnStatic(Ip(10, 71, 0, 30)), WantDhcp());
  EXPECT_FALSE(c.Accept(true, OnStatic(Ip(10, 71, 0, 30))));
  EXPECT_TRUE(c.Accept(true, OnDhcp(Ip(10, 71, 8, 9))));
  EXPECT_TRUE(c.Accept(true, OnDhcp(Ip(10, 71, 0, 30)))) << "DHCP may hand out the same address";
}

TEST(ComebackTest, ANewNetmaskOrGatewayAloneTellsOldFromNew) {
  // Same mode and address: a late report of the old netmask is not the new settings.
  ComebackCheck mask(OnStatic(Ip(10, 71, 0, 30)), WantStatic(Ip(10, 71, 0, 30), Ip(255, 255, 0, 0)));
  EXPECT_FALSE(mask.sameAsBefore());
  EXPECT_FALSE(mask.Accept(true, OnStatic(Ip(10, 71, 0, 30))));
  EXPECT_TRUE(mask.Accept(true, OnStatic(Ip(10, 71, 0, 30), Ip(255, 255, 0, 0))));
  ComebackCheck gw(OnStatic(Ip(10, 71, 0, 30)), WantStatic(Ip(10, 71, 0, 30), kMask, Ip(10, 71, 0, 1)));
  EXPECT_FALSE(gw.Accept(true, OnStatic(Ip(10, 71, 0, 30))));
  EXPECT_TRUE(gw.Accept(true, OnStatic(Ip(10, 71, 0, 30), kMask, Ip(10, 71, 0, 1))));
}

TEST(ComebackTest, UnchangedSettingsNeedTheDeviceSeenSilentFirst) {
  ComebackCheck c(OnStatic(Ip(10, 71, 0, 30)), WantStatic(Ip(10, 71, 0, 30)));
  EXPECT_TRUE(c.sameAsBefore());
  EXPECT_FALSE(c.Accept(true, OnStatic(Ip(10, 71, 0, 30)))) << "still up: it may not have restarted yet";
  c.NoteProbe(true);
  EXPECT_FALSE(c.Accept(true, OnStatic(Ip(10, 71, 0, 30))));
  c.NoteProbe(false);
  EXPECT_TRUE(c.seenSilent());
  EXPECT_TRUE(c.Accept(true, OnStatic(Ip(10, 71, 0, 30))));
  c.NoteProbe(true);
  EXPECT_TRUE(c.seenSilent()) << "once silent stays so";
  EXPECT_FALSE(c.Accept(true, OnDhcp(Ip(10, 71, 0, 30))));

  ComebackCheck d(OnDhcp(Ip(10, 71, 8, 3)), WantDhcp());
  EXPECT_TRUE(d.sameAsBefore()) << "DHCP to DHCP, whatever the address fields hold";
  EXPECT_FALSE(d.Accept(true, OnDhcp(Ip(10, 71, 8, 3))));
  d.NoteProbe(false);
  EXPECT_TRUE(d.Accept(true, OnDhcp(Ip(10, 71, 8, 4))));
}
