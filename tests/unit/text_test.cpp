#include <gtest/gtest.h>

#include "platform/sha1.h"
#include "platform/text.h"
#include "platform/uuid.h"

namespace qs::plat {
namespace {

TEST(Text, Utf8RoundTripWithSurrogates) {
  std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  std::u16string w = Utf8ToWide(s);
  ASSERT_EQ(w.size(), 5u);
  EXPECT_EQ(w[1], 0xE9);
  EXPECT_EQ(w[3], 0xD83D);
  EXPECT_EQ(WideToUtf8(w), s);
}

TEST(Text, MalformedUtf8BecomesReplacement) {
  std::u16string w = Utf8ToWide("\xC3");
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], 0xFFFD);
}

TEST(Text, AsciiWidensUnchanged) {
  EXPECT_EQ(AnsiToWide("KV-1R"), u"KV-1R");
  EXPECT_EQ(WideToAnsi(u"KV-1R"), "KV-1R");
}

TEST(Sha1, KnownVectorsIncludingIncremental) {
  uint8_t d[20];
  ASSERT_TRUE(Sha1Digest("abc", 3, d));
  const uint8_t abc[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                           0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
  EXPECT_EQ(0, memcmp(d, abc, 20));
  Sha1 h;
  h.Update("a", 1);
  h.Update("bc", 2);
  ASSERT_TRUE(h.Final(d));
  EXPECT_EQ(0, memcmp(d, abc, 20));
  ASSERT_TRUE(Sha1Digest("", 0, d));
  EXPECT_EQ(d[0], 0xda);
  EXPECT_EQ(d[19], 0x09);
}

TEST(Uuid, TwoCallsDiffer) {
  uint8_t a[16], b[16];
  ASSERT_TRUE(NewUuid(a));
  ASSERT_TRUE(NewUuid(b));
  EXPECT_NE(0, memcmp(a, b, 16));
}

}  // namespace
}  // namespace qs::plat
