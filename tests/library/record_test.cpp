// Device records from the announce and the device line built from them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/device_record.h"
#include "library/scanner.h"

namespace qs::kvxr {
namespace {

std::string Narrow(const std::u16string& w) { return std::string(w.begin(), w.end()); }

DeviceRecord Kv2r() {
  DeviceRecord r;
  r.model = 2;
  r.address = 0xC0A80114;  // 192.168.1.20
  const uint8_t mac[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0x0C};
  std::memcpy(r.mac, mac, 6);
  r.staticAddress = 0xC0A80114;
  r.netmask = 0xFFFFFF00;
  r.gateway = 0xC0A80101;
  r.versionMajor = 1;
  r.versionMinor = 12;
  return r;
}

std::vector<uint8_t> Announce(const char* model, size_t len = 114) {
  std::vector<uint8_t> p(len, 0);
  for (size_t i = 0; i < 16 && i < len; ++i) p[i] = static_cast<uint8_t>(0xA0 + i);
  const uint8_t fixed[] = {10, 71, 8, 1, 0x02, 0x51, 0x53, 0, 0, 1, 1, 10, 71, 8, 1, 255, 255, 240, 0, 10, 71, 0, 254};
  for (size_t i = 0; i < sizeof fixed && 16 + i < len; ++i) p[16 + i] = fixed[i];
  for (size_t i = 0; model[i] && 39 + i < len && i < 8; ++i) p[39 + i] = static_cast<uint8_t>(model[i]);
  const char serial[] = "QS000001";
  for (size_t i = 0; serial[i] && 47 + i < len; ++i) p[47 + i] = static_cast<uint8_t>(serial[i]);
  if (len > 71) p[71] = 'T';
  return p;
}

TEST(DeviceLine, StaticDeviceHasEightFieldsInOrder) {
  EXPECT_EQ(Narrow(FormatDeviceLine(Kv2r())),
            "KV-2R|192.168.1.20|00:11:22:AA:BB:0C|1.12|static|192.168.1.20|255.255.255.0|192.168.1.1");
}

TEST(DeviceLine, UnansweredVersionIsAStarAndMinorHasNoPadding) {
  DeviceRecord r = Kv2r();
  r.model = 1;
  r.dhcp = 1;
  r.versionMajor = r.versionMinor = 0;
  EXPECT_EQ(Narrow(FormatDeviceLine(r)),
            "KV-1R|192.168.1.20|00:11:22:AA:BB:0C|*|DHCP|192.168.1.20|255.255.255.0|192.168.1.1");
  r.versionMajor = 1;
  r.versionMinor = 5;
  EXPECT_NE(Narrow(FormatDeviceLine(r)).find("|1.5|"), std::string::npos);
  r.versionMajor = 0;
  r.versionMinor = 7;  // only both zero mean "no answer"
  EXPECT_NE(Narrow(FormatDeviceLine(r)).find("|0.7|"), std::string::npos);
}

TEST(DeviceLine, OtherModelsHaveNoLine) {
  DeviceRecord r = Kv2r();
  r.model = 0;
  EXPECT_TRUE(FormatDeviceLine(r).empty());
  r.model = 4;
  EXPECT_TRUE(FormatDeviceLine(r).empty());
}

TEST(Announce, FieldsAtTheirOffsets) {
  std::vector<uint8_t> p = Announce("KV3R");
  DeviceRecord r;
  ASSERT_TRUE(RecordFromAnnounce(p.data(), p.size(), &r));
  EXPECT_EQ(r.model, 3u);
  EXPECT_EQ(r.address, 0x0A470801u);
  EXPECT_EQ(r.mac[0], 0x02);
  EXPECT_EQ(r.mac[5], 0x01);
  EXPECT_EQ(r.hardwareId[0], 0xA0);
  EXPECT_EQ(r.hardwareId[15], 0xAF);
  EXPECT_EQ(r.dhcp, 1);
  EXPECT_EQ(r.staticAddress, 0x0A470801u);
  EXPECT_EQ(r.netmask, 0xFFFFF000u);
  EXPECT_EQ(r.gateway, 0x0A4700FEu);
  EXPECT_EQ(SerialText(r), std::string("QS000001"));  // NUL-padded serial stops the text
  EXPECT_EQ(r.serial[24], 'T');                        // the text field follows in the record
  EXPECT_EQ(r.versionMajor, 0u);
}

TEST(Announce, OnlyExactKvxrModelCodesAndWholePayloads) {
  DeviceRecord r;
  for (const char* m : {"KV4R", "KV1RX", "kv1r", "KV1", ""}) {
    std::vector<uint8_t> p = Announce(m);
    EXPECT_FALSE(RecordFromAnnounce(p.data(), p.size(), &r)) << m;
  }
  std::vector<uint8_t> shortOne = Announce("KV1R", 86);
  EXPECT_FALSE(RecordFromAnnounce(shortOne.data(), shortOne.size(), &r));
  std::vector<uint8_t> exact = Announce("KV1R", 87);
  EXPECT_TRUE(RecordFromAnnounce(exact.data(), exact.size(), &r));
  exact[26] = 2;  // only 1 means DHCP
  ASSERT_TRUE(RecordFromAnnounce(exact.data(), exact.size(), &r));
  EXPECT_EQ(r.dhcp, 0);
}

TEST(HwIdOrder, WordByWordFromTheLowestAddress) {
  HwId a, b;
  a.bytes[0] = 1;
  b.bytes[4] = 0xFF;
  EXPECT_TRUE(b < a);  // first word decides
  EXPECT_FALSE(a < b);
  HwId c = a;
  EXPECT_FALSE(a < c);
  EXPECT_FALSE(c < a);
}

TEST(DiscoverDestination, DirectedOrLimitedBroadcast) {
  EXPECT_EQ(DiscoverDestination(0, 0x0A470001, 0xFFFFF000), 0x0A470FFFu);  // 10.71.15.255
  EXPECT_EQ(DiscoverDestination(1, 0x0A470001, 0xFFFFF000), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace qs::kvxr
