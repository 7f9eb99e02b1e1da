// The KV-xR page's changed/valid rules, address suggestions, configuration
// text, the firmware link, its search for a device's handle and the firmware
// choice.
#include <gtest/gtest.h>

#include "app/logic/device_line.h"
#include "app/logic/firmware_choice.h"
#include "app/logic/kvxr_settings.h"
#include "app/logic/wink_rule.h"
#include "library/KV-xR_update.h"

using namespace qs::app;

namespace {
uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return (a << 24) | (b << 16) | (c << 8) | d; }
RecordSettings StaticRecord() {
  return RecordSettings{false, Ip(192, 168, 1, 77), Ip(192, 168, 1, 50), Ip(255, 255, 255, 0), Ip(192, 168, 1, 1)};
}
RecordSettings DhcpRecord() {
  return RecordSettings{true, Ip(10, 71, 0, 40), Ip(0, 0, 0, 0), Ip(255, 255, 240, 0), Ip(10, 71, 0, 254)};
}
}  // namespace

TEST(KvxrPageTest, LoadedFieldsAreUnchanged) {
  auto s = StaticRecord();
  auto f = FieldsFromRecord(s);
  EXPECT_EQ(f.address, s.staticAddress) << "static devices show their static address";
  EXPECT_FALSE(IsChanged(s, f));
  auto d = DhcpRecord();
  auto g = FieldsFromRecord(d);
  EXPECT_EQ(g.address, d.currentAddress) << "DHCP devices show their current address";
  EXPECT_FALSE(IsChanged(d, g));
}

TEST(KvxrPageTest, DhcpToStaticWithZeroNetmaskIsChangedButInvalid) {
  auto d = DhcpRecord();
  auto f = FieldsFromRecord(d);
  f.dhcp = false;
  f.netmask = 0;
  EXPECT_TRUE(IsChanged(d, f));
  EXPECT_FALSE(IsValid(f));
  f.netmask = 0xFFFFFFFFu;
  EXPECT_FALSE(IsValid(f));
  f.netmask = Ip(255, 255, 0, 0);
  f.gateway = 0;
  EXPECT_FALSE(IsValid(f));
  f.gateway = Ip(10, 71, 0, 1);
  EXPECT_TRUE(IsValid(f));
}

TEST(KvxrPageTest, StaticToDhcpIsChangedAndValidWhenFieldsStillHoldValues) {
  auto s = StaticRecord();
  auto f = FieldsFromRecord(s);
  f.dhcp = true;
  EXPECT_TRUE(IsChanged(s, f));
  EXPECT_TRUE(IsValid(f));
}

TEST(KvxrPageTest, DhcpEditsDoNotCountWhileStillOnDhcp) {
  auto d = DhcpRecord();
  auto f = FieldsFromRecord(d);
  f.address = Ip(1, 2, 3, 4);
  EXPECT_FALSE(IsChanged(d, f));
}

TEST(KvxrPageTest, EachStaticFieldCountsAsAChange) {
  auto s = StaticRecord();
  for (int i = 0; i < 3; ++i) {
    auto f = FieldsFromRecord(s);
    (i == 0 ? f.address : i == 1 ? f.netmask : f.gateway) += 1;
    EXPECT_TRUE(IsChanged(s, f)) << i;
  }
}

TEST(KvxrPageTest, SuggestionsForPrivateRanges) {
  uint32_t m = 7, g = 8;
  ASSERT_TRUE(SuggestFor(Ip(172, 20, 5, 9), m, g));
  EXPECT_EQ(m, Ip(255, 255, 0, 0));
  EXPECT_EQ(g, Ip(172, 20, 0, 1));
  ASSERT_TRUE(SuggestFor(Ip(10, 200, 3, 4), m, g));
  EXPECT_EQ(m, Ip(255, 0, 0, 0));
  EXPECT_EQ(g, Ip(10, 0, 0, 1));
  ASSERT_TRUE(SuggestFor(Ip(192, 168, 7, 33), m, g));
  EXPECT_EQ(m, Ip(255, 255, 255, 0));
  EXPECT_EQ(g, Ip(192, 168, 7, 1));
  // Range edges.
  EXPECT_TRUE(SuggestFor(Ip(172, 16, 0, 0), m, g));
  EXPECT_TRUE(SuggestFor(Ip(172, 31, 255, 255), m, g));
  m = 7, g = 8;
  for (uint32_t a : {Ip(8, 8, 8, 8), Ip(172, 15, 255, 255), Ip(172, 32, 0, 0), Ip(192, 169, 0, 1), Ip(11, 0, 0, 0)}) {
    EXPECT_FALSE(SuggestFor(a, m, g));
    EXPECT_EQ(m, 7u);
    EXPECT_EQ(g, 8u);
  }
}

TEST(KvxrPageTest, ConfigurationText) {
  NetSettings s{false, Ip(192, 168, 1, 50), Ip(255, 255, 255, 0), Ip(192, 168, 1, 1)};
  EXPECT_EQ(ConfigText(s), u"static|192.168.1.50|255.255.255.0|192.168.1.1");
  s.dhcp = true;
  EXPECT_EQ(ConfigText(s), u"DHCP|*|*|*");
  const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0xc3, 0x04, 0xff};
  EXPECT_EQ(FormatMac(mac), u"00-1A-2B-C3-04-FF");
  EXPECT_EQ(FormatVersion(Version{2, 5}), u"v2.005");
  EXPECT_EQ(FormatVersion(Version{0, 0}), u"v0.000");
}

TEST(KvxrPageTest, FirmwareLinkRule) {
  Version none{0, 0};
  EXPECT_TRUE(ShowFirmwareLink(Version{1, 500}, none)) << "1.500 is below 2.0";
  EXPECT_FALSE(ShowFirmwareLink(Version{2, 0}, none));
  EXPECT_FALSE(ShowFirmwareLink(Version{0, 0}, Version{9, 0})) << "no version reported";
  EXPECT_TRUE(ShowFirmwareLink(Version{2, 0}, Version{2, 1}));
  EXPECT_FALSE(ShowFirmwareLink(Version{2, 1}, Version{2, 1}));
  EXPECT_FALSE(ShowFirmwareLink(Version{3, 0}, Version{1, 0})) << "an older file lowers nothing";
  EXPECT_TRUE(ShowFirmwareLink(Version{1, 999}, Version{1, 0}));
}

TEST(DeviceLineTest, SearchKeepsTheLastMatch) {
  const uint8_t wanted[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
  DeviceSearch s(wanted);
  s.Offer(1, "KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1");
  s.Offer(2, "KV-1R|10.0.0.6|00:11:22:33:44:56|*|DHCP|10.0.0.6|255.255.255.0|10.0.0.1");
  s.Offer(3, "KV-1R|10.1.0.5|00:11:22:33:44:55|*|DHCP|10.1.0.5|255.255.255.0|10.1.0.1");
  s.Offer(4, "garbage with 00:11:22:33:44:55");
  ASSERT_TRUE(s.found());
  EXPECT_EQ(s.handle(), 3);
  DeviceSearch none(wanted);
  none.Offer(2, "KV-1R|10.0.0.6|00:11:22:33:44:56|*|DHCP|10.0.0.6|255.255.255.0|10.0.0.1");
  EXPECT_FALSE(none.found());
}

TEST(FirmwareChoiceTest, LastAcceptedFileWinsWhateverItsVersion) {
  FirmwareChoice c;
  c.Offer(u"a.hex", KVXR_OK, u"2.010");
  c.Offer(u"b.hex", KVXR_NOT_FIRMWARE_FILE, u"9.000");  // refused by the library
  c.Offer(u"c.hex", KVXR_OK, u"1.005");
  c.Offer(u"d.hex", KVXR_OK, u"0.000");     // no version: not a choice
  c.Offer(u"e.hex", KVXR_OK, u"x.1");
  EXPECT_EQ(c.chosen().path, u"c.hex");
  EXPECT_EQ(c.chosen().version.major, 1u);
  EXPECT_EQ(c.chosen().version.minor, 5u);

  Version v;
  EXPECT_TRUE(ParseFirmwareVersion(u"0.200", v));
  EXPECT_EQ(v.minor, 200u);
  EXPECT_FALSE(ParseFirmwareVersion(u"1.", v));
  EXPECT_FALSE(ParseFirmwareVersion(u".5", v));
  EXPECT_FALSE(ParseFirmwareVersion(u"99999999999.1", v));
}

TEST(KvxrPageTest, WinkIsRefusedWithoutTheIdentifierTheAuthenticatedWinkNames) {
  const uint8_t none[16] = {};
  uint8_t id[16] = {};
  id[15] = 1;
  EXPECT_EQ(CheckWink(true, true, none), WinkRefusal::NoIdentifier);
  EXPECT_EQ(CheckWink(true, true, id), WinkRefusal::None);
  EXPECT_EQ(CheckWink(true, false, none), WinkRefusal::None) << "the text wink goes to the address, no identifier";
  EXPECT_EQ(CheckWink(false, true, id), WinkRefusal::CannotWink);
  EXPECT_NE(WinkRefusalText(WinkRefusal::NoIdentifier).find("hardware identifier"), std::string::npos);
  EXPECT_EQ(WinkRefusalText(WinkRefusal::None), "");
}
