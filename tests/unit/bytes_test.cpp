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

// Reading at a position, as the text formats do: the value's end, and on
// failure the position left where it was.
TEST(Bytes, ReadingAtAPosition) {
  uint32_t a = 0;
  size_t pos = 0;
  std::string_view ok = "192.168.1.23rest";
  ASSERT_TRUE(ParseIpv4At(ok, pos, a));
  EXPECT_EQ(a, 0xC0A80117u);
  EXPECT_EQ(ok.substr(pos), "rest");
  for (const char* bad : {"256.1.1.1", "1.2.3", "1..2.3", " 1.2.3.4", "1.2.3.", "a.b.c.d"}) {
    pos = 0;
    EXPECT_FALSE(ParseIpv4At(bad, pos, a)) << bad;
    EXPECT_EQ(pos, 0u) << "a failed read leaves the position: " << bad;
  }

  uint8_t m[6];
  pos = 0;
  ASSERT_TRUE(ParseMacAt("00:1a-2B:3c:4D:ff", pos, ":-", m));
  const uint8_t want[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF};
  EXPECT_EQ(0, memcmp(m, want, 6));
  for (const char* bad : {"00:11:22:33:44", "0:11:22:33:44:55", "00:11:22:33:44:5g", "00.11.22.33.44.55"}) {
    pos = 0;
    EXPECT_FALSE(ParseMacAt(bad, pos, ":-", m)) << bad;
    EXPECT_EQ(pos, 0u);
  }
}

}  // namespace
}  // namespace qs::bytes
