#include <gtest/gtest.h>

#include "runtime/bytes.h"

namespace qs::bytes {
namespace {

TEST(Bytes, IntegersInBothOrders) {
  uint8_t b[4];
  PutBe32(b, 0x0A470001u);
  EXPECT_EQ(b[0], 0x0A);
  EXPECT_EQ(b[3], 0x01);
  EXPECT_EQ(GetBe32(b), 0x0A470001u);
  EXPECT_EQ(GetLe32(b), 0x0100470Au);
  PutLe16(b, 0xD15C);
  EXPECT_EQ(b[0], 0x5C);
  EXPECT_EQ(GetLe16(b), 0xD15C);
  EXPECT_EQ(GetBe16(b), 0x5CD1);
  PutLe32(b, 0xFFFFFFFFu);
  EXPECT_EQ(GetBe32(b), 0xFFFFFFFFu);  // no sign extension anywhere
}

TEST(Bytes, DottedQuads) {
  uint32_t a = 0;
  EXPECT_TRUE(ParseIpv4("10.71.0.1", a));
  EXPECT_EQ(a, 0x0A470001u);
  EXPECT_EQ(FormatIpv4(a), "10.71.0.1");
  EXPECT_EQ(FormatIpv4(0xFFFFFFFFu), "255.255.255.255");
  EXPECT_TRUE(ParseIpv4("010.071.000.001", a));  // devices pad with zeros
  EXPECT_EQ(a, 0x0A470001u);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.256", "1..3.4", "a.b.c.d", " 1.2.3.4", "1.2.3.4x",
                          "99999999999999999999.1.1.1"})
    EXPECT_FALSE(ParseIpv4(bad, a)) << bad;
  size_t pos = 2;
  EXPECT_TRUE(ParseIpv4At("x:1.2.3.4:rest", pos, a));
  EXPECT_EQ(pos, 9u);
}

TEST(Bytes, HexAndMac) {
  const uint8_t mac[6] = {0x02, 0x00, 0x00, 0xAB, 0x01, 0x30};
  EXPECT_EQ(FormatMac(mac), "02-00-00-AB-01-30");
  EXPECT_EQ(FormatMac(mac, ':'), "02:00:00:AB:01:30");
  EXPECT_EQ(HexText(mac, 6), "020000AB0130");
  uint8_t m[6] = {};
  for (const char* ok : {"02-00-00-ab-01-30", "02:00:00:AB:01:30", "020000ab0130"}) {
    EXPECT_TRUE(ParseMac(ok, m)) << ok;
    EXPECT_EQ(0, memcmp(m, mac, 6)) << ok;
  }
  for (const char* bad : {"02-00-00-ab-01", "02-00-00-ab-01-3g", "02-00:00-ab-01-30", "02-00-00-ab-01-300",
                          "020000ab013", ""})
    EXPECT_FALSE(ParseMac(bad, m)) << bad;
  uint8_t h[2];
  EXPECT_TRUE(ParseHex("a0FF", h, 2));
  EXPECT_EQ(h[0], 0xA0);
  EXPECT_FALSE(ParseHex("a0F", h, 2));
}

}  // namespace
}  // namespace qs::bytes
