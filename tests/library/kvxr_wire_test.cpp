// The update's reboot challenge and the recovery scan's request and
// announcement, against bytes written out by hand from their layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/reboot_challenge.h"
#include "library/recovery_wire.h"

namespace qs::kvxr {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void Append(Bytes& b, std::initializer_list<uint8_t> more) {
  for (uint8_t v : more) b.push_back(v);
}

Bytes Challenge(const std::string& text, size_t total = 33) {
  Bytes b(total, 0);
  b[0] = 0x02;
  std::memcpy(b.data() + 1, "?Reboot", 7);
  std::memcpy(b.data() + 8, text.data(), std::min<size_t>(text.size(), total - 8));
  return b;
}

TEST(RebootChallenge, RequestChallengeAndAnswerBytes) {
  EXPECT_EQ(BuildRebootRequest(), Text("Reboot"));
  uint8_t token[16];
  for (int i = 0; i < 16; ++i) token[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(BuildRebootChallenge(token), Challenge("AAECAwQFBgcICQoLDA0ODw=="));
  EXPECT_EQ(BuildRebootAnswer(token), Text("Reboot//79/Pv6+fj39vX08/Lx8A=="));
  EXPECT_EQ(BuildRebootAnswer(token).size(), kRebootAnswerSize);

  uint8_t got[16] = {};
  ASSERT_TRUE(ParseRebootChallenge(Challenge("AAECAwQFBgcICQoLDA0ODw==").data(), 33, got));
  EXPECT_EQ(std::memcmp(got, token, 16), 0);
  const Bytes answer = Text("Reboot//79/Pv6+fj39vX08/Lx8A==");
  EXPECT_TRUE(AnswerMatches(answer.data(), answer.size(), token));
  EXPECT_FALSE(AnswerMatches(answer.data(), answer.size() - 2, token));  // "==" belong to it
  const Bytes plain = Text("RebootAAECAwQFBgcICQoLDA0ODw==");
  EXPECT_FALSE(AnswerMatches(plain.data(), plain.size(), token));          // not inverted
}

TEST(RebootChallenge, TheTextEndsAtANulOrAfter24Characters) {
  uint8_t got[16];
  // 24 characters with no NUL after them (byte 32 is something else) still read.
  Bytes b = Challenge("AAECAwQFBgcICQoLDA0ODw==", 40);
  b[32] = 'X';
  EXPECT_TRUE(ParseRebootChallenge(b.data(), b.size(), got));
}

TEST(RebootChallenge, ChallengesThatAreNotUsableAreRefused) {
  uint8_t got[16];
  const Bytes good = Challenge("AAECAwQFBgcICQoLDA0ODw==");
  EXPECT_FALSE(ParseRebootChallenge(good.data(), 32, got));  // shorter than 33 bytes
  EXPECT_FALSE(ParseRebootChallenge(nullptr, 0, got));
  Bytes b = good;
  b[0] = 0x03;
  EXPECT_FALSE(ParseRebootChallenge(b.data(), b.size(), got));
  b = good;
  b[7] = 'T';  // "?RebooT"
  EXPECT_FALSE(ParseRebootChallenge(b.data(), b.size(), got));
  const char* texts[] = {
      "AAECAwQFBgcICQoLDA0ODw",    // cut short: not a multiple of four
      "AAECAwQFBgcICQoLDA0O",      // 15 bytes, well-formed but the wrong size
      "AAECAwQFBgcICQoLDA0ODw=A",  // padding inside
      "AAECAwQFBgcICQoLDA0OD*==",  // outside the alphabet
      "",                          // nothing
  };
  for (const char* t : texts) EXPECT_FALSE(ParseRebootChallenge(Challenge(t).data(), 33, got)) << t;
}

TEST(RecoveryWire, RequestBytes) {
  const uint8_t rid[16] = {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
                           0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
  WatchEntry e;
  e.key = 0x11223344;
  e.id.fill(0xAB);
  const auto reqs = BuildRecoveryRequests(rid, {e});
  ASSERT_EQ(reqs.size(), 1u);
  Bytes want(rid, rid + 16);
  Append(want, {0x5C, 0xD1, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x44, 0x33, 0x22, 0x11});
  want.insert(want.end(), 16, 0xAB);
  EXPECT_EQ(reqs[0], want);

  const auto none = BuildRecoveryRequests(rid, {});
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].size(), 24u);
  EXPECT_EQ(none[0][20], 0);

  RecoveryRequestView v;
  ASSERT_TRUE(ParseRecoveryRequest(reqs[0].data(), reqs[0].size(), v));
  EXPECT_EQ(v.count, 1u);
  EXPECT_EQ(RequestEntry(v, 0).key, 0x11223344u);
  EXPECT_EQ(RequestEntry(v, 0).id, e.id);
  EXPECT_FALSE(ParseRecoveryRequest(reqs[0].data(), reqs[0].size() - 1, v));
  Bytes bad = reqs[0];
  bad[16] = 0x5D;
  EXPECT_FALSE(ParseRecoveryRequest(bad.data(), bad.size(), v));
}

TEST(RecoveryWire, ManyWatchedDevicesTakeSeveralRequests) {
  const uint8_t rid[16] = {};
  std::vector<WatchEntry> entries(130);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].key = static_cast<uint32_t>(i);
  const auto reqs = BuildRecoveryRequests(rid, entries);
  ASSERT_EQ(reqs.size(), 3u);
  size_t seen = 0;
  for (const auto& r : reqs) {
    RecoveryRequestView v;
    ASSERT_TRUE(ParseRecoveryRequest(r.data(), r.size(), v));
    EXPECT_LE(r.size(), 24u + 20 * 64);
    for (size_t i = 0; i < v.count; ++i) EXPECT_EQ(RequestEntry(v, i).key, seen++);
  }
  EXPECT_EQ(seen, 130u);
  // The receiving side refuses a count beyond 64 even when the length fits it.
  Bytes big(24 + 20 * 65, 0);
  big[16] = 0x5C;
  big[17] = 0xD1;
  big[20] = 65;
  RecoveryRequestView v;
  EXPECT_FALSE(ParseRecoveryRequest(big.data(), big.size(), v));
}

TEST(RecoveryWire, AnnouncementFields) {
  Bytes a(48, 0xEE);
  a[16] = 0x71;
  a[17] = 0x90;
  a[18] = 0x00;
  a[19] = 0x00;
  for (int i = 0; i < 16; ++i) a[24 + i] = static_cast<uint8_t>(0x30 + i);
  const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x01, 0x30};
  std::memcpy(a.data() + 40, mac, 6);
  a[46] = 0x39;  // 12345
  a[47] = 0x30;
  Announcement got;
  ASSERT_TRUE(ParseAnnouncement(a.data(), a.size(), got));
  EXPECT_EQ(got.id, a.data() + 24);
  EXPECT_EQ(std::memcmp(got.mac, mac, 6), 0);
  EXPECT_EQ(got.port, 12345);
  EXPECT_EQ(BuildAnnouncement(a.data() + 24, mac, 12345),
            [&] {
              Bytes b = a;
              std::fill(b.begin(), b.begin() + 16, 0);
              std::fill(b.begin() + 20, b.begin() + 24, 0);
              return b;
            }());

  Bytes longer = a;
  longer.resize(200, 0x77);  // what follows is not read
  EXPECT_TRUE(ParseAnnouncement(longer.data(), longer.size(), got));
  EXPECT_FALSE(ParseAnnouncement(a.data(), 47, got));  // tag present, port missing
  EXPECT_FALSE(ParseAnnouncement(a.data(), 24, got));
  Bytes b = a;
  b[18] = 1;  // 0x19071: the whole 32-bit word must match
  EXPECT_FALSE(ParseAnnouncement(b.data(), b.size(), got));
  b = a;
  b[46] = b[47] = 0;
  EXPECT_FALSE(ParseAnnouncement(b.data(), b.size(), got));
}

}  // namespace
}  // namespace qs::kvxr
