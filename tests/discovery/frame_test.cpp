#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "discovery/announce.h"
#include "discovery/frame.h"
#include "discovery/replies.h"
#include "discovery/text_reply.h"
#include "discovery/wink.h"
#include "discovery/wink_request.h"
#include "platform/sha1.h"

namespace qs::disc {
namespace {

const uint8_t kNonce[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const uint8_t kOther[16] = {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

std::vector<uint8_t> AnnouncePayload(const char* code, uint32_t address, const uint8_t mac[6], size_t len = 114) {
  std::vector<uint8_t> p(len, 0);
  for (int i = 0; i < 16; ++i) p[i] = static_cast<uint8_t>(0xA0 + i);
  if (len >= 20) {
    p[16] = static_cast<uint8_t>(address >> 24);
    p[17] = static_cast<uint8_t>(address >> 16);
    p[18] = static_cast<uint8_t>(address >> 8);
    p[19] = static_cast<uint8_t>(address);
  }
  if (len >= 26) std::memcpy(&p[20], mac, 6);
  for (size_t i = 0; code[i] && 39 + i < len && i < 8; ++i) p[39 + i] = static_cast<uint8_t>(code[i]);
  return p;
}

const uint8_t kMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

TEST(Frame, DiscoverRequestIsNonceCommandLengthAndDigest) {
  std::vector<uint8_t> f = BuildRequest(kNonce, kCmdDiscover, nullptr, 0);
  ASSERT_EQ(f.size(), 40u);
  EXPECT_EQ(std::memcmp(f.data(), kNonce, 16), 0);
  EXPECT_EQ(f[16], 0x01);
  EXPECT_EQ(f[17], 0xC1);
  EXPECT_EQ(f[18], 0x00);
  EXPECT_EQ(f[19], 0x00);
  uint8_t d[20];
  ASSERT_TRUE(plat::Sha1Digest(f.data(), 20, d));
  EXPECT_EQ(std::memcmp(d, &f[20], 20), 0);
}

TEST(Frame, WinkRequestCarriesTheIdentifier) {
  uint8_t id[16];
  for (int i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(0x30 + i);
  std::vector<uint8_t> f = BuildWinkRequest(kNonce, id);
  ASSERT_EQ(f.size(), kWinkRequestSize);
  const uint8_t head[4] = {0x04, 0xC1, 0x10, 0x00};
  EXPECT_EQ(std::memcmp(&f[16], head, 4), 0);
  EXPECT_EQ(std::memcmp(&f[20], id, 16), 0);
  uint8_t d[20];
  ASSERT_TRUE(plat::Sha1Digest(f.data(), 36, d));
  EXPECT_EQ(std::memcmp(d, &f[36], 20), 0);
}

TEST(Frame, TheDeviceSplitsARequestAndChecksItsDigest) {
  uint8_t id[16];
  for (int i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(0x30 + i);
  std::vector<uint8_t> f = BuildRequest(kNonce, kCmdWink, id, 16);
  ParsedRequest r;
  ASSERT_TRUE(ParseRequest(f.data(), f.size(), &r));
  EXPECT_TRUE(r.digestOk);
  EXPECT_EQ(r.command, kCmdWink);
  EXPECT_EQ(r.length, 16u);
  EXPECT_EQ(r.nonce, f.data());
  EXPECT_EQ(r.payload, f.data() + 20);
  uint8_t named[16];
  ASSERT_TRUE(DecodeWinkPayload(r.payload, r.length, named));
  EXPECT_EQ(std::memcmp(named, id, 16), 0);
  EXPECT_FALSE(DecodeWinkPayload(r.payload, 15, named));
  // A flipped bit still parses, with the digest found wrong.
  f[25] ^= 1;
  ASSERT_TRUE(ParseRequest(f.data(), f.size(), &r));
  EXPECT_FALSE(r.digestOk);
  // Not shaped like a request: the length field disagrees with the size.
  EXPECT_FALSE(ParseRequest(f.data(), f.size() - 1, &r));
  EXPECT_FALSE(ParseRequest(f.data(), 39, &r));
  f = BuildRequest(kNonce, kCmdDiscover, nullptr, 0);
  ASSERT_TRUE(ParseRequest(f.data(), f.size(), &r));
  EXPECT_TRUE(r.digestOk);
  EXPECT_EQ(r.length, 0u);
}

TEST(Frame, ReplyVerifiesOnlyWithItsNonceAndExactLength) {
  std::vector<uint8_t> payload = AnnouncePayload("KV1R", 0x0A470010, kMac);
  std::vector<uint8_t> r = BuildReply(kNonce, kReplyAnnounce, payload.data(), payload.size());
  ASSERT_EQ(r.size(), payload.size() + 28);
  VerifiedReply v;
  ASSERT_TRUE(VerifyReply(kNonce, r.data(), r.size(), &v));
  EXPECT_EQ(v.type, kReplyAnnounce);
  EXPECT_EQ(v.length, payload.size());
  EXPECT_EQ(v.payload, r.data() + 8);
  // An earlier scan's nonce fails the digest.
  EXPECT_FALSE(VerifyReply(kOther, r.data(), r.size(), nullptr));
  // One byte more or less than the length field says.
  std::vector<uint8_t> longer = r;
  longer.push_back(0);
  EXPECT_FALSE(VerifyReply(kNonce, longer.data(), longer.size(), nullptr));
  EXPECT_FALSE(VerifyReply(kNonce, r.data(), r.size() - 1, nullptr));
  // A flipped payload bit.
  std::vector<uint8_t> bad = r;
  bad[20] ^= 1;
  EXPECT_FALSE(VerifyReply(kNonce, bad.data(), bad.size(), nullptr));
  // The header word is not interpreted, but it is covered by the digest.
  bad = r;
  bad[0] ^= 0xFF;
  EXPECT_FALSE(VerifyReply(kNonce, bad.data(), bad.size(), nullptr));
  EXPECT_FALSE(VerifyReply(kNonce, r.data(), 27, nullptr));
}

TEST(Announce, DecodesAddressMacAndModel) {
  Sighting s;
  std::vector<uint8_t> p = AnnouncePayload("KV1R", 0x0A470010, kMac);
  ASSERT_TRUE(SightingFromAnnounce(p.data(), p.size(), &s));
  EXPECT_STREQ(s.row->code, "KV1R");
  EXPECT_EQ(s.address, 0x0A470010u);
  EXPECT_EQ(std::memcmp(s.mac, kMac, 6), 0);
  p = AnnouncePayload("QMAZZZ", 1, kMac);  // not exactly a code: the first prefix row
  ASSERT_TRUE(SightingFromAnnounce(p.data(), p.size(), &s));
  EXPECT_STREQ(s.row->code, "QMA");
  p = AnnouncePayload("NOPE", 1, kMac);
  EXPECT_FALSE(SightingFromAnnounce(p.data(), p.size(), &s));
}

TEST(Announce, TooShortForTheFieldsReadIsRejected) {
  std::vector<uint8_t> p = AnnouncePayload("KV1R", 1, kMac, kAnnounceNeededByScan);
  EXPECT_TRUE(SightingFromAnnounce(p.data(), p.size(), nullptr));
  p = AnnouncePayload("KV1R", 1, kMac, kAnnounceNeededByScan - 1);
  EXPECT_FALSE(SightingFromAnnounce(p.data(), p.size(), nullptr));
  p = AnnouncePayload("KV1R", 1, kMac, 20);
  EXPECT_FALSE(SightingFromAnnounce(p.data(), p.size(), nullptr));
}

// What a device writes, every reader reads back; the positions are those the
// test's own builder above writes.
TEST(Announce, EncodedAtTheOffsetsTheReadersUse) {
  Announce a;
  for (int i = 0; i < 16; ++i) a.hardwareId[i] = static_cast<uint8_t>(0xA0 + i);
  a.address = 0x0A470010;
  std::memcpy(a.mac, kMac, 6);
  a.dhcp = true;
  a.staticAddress = 0x0A470020;
  a.netmask = 0xFFFFF000;
  a.gateway = 0x0A4700FE;
  std::memcpy(a.modelCode, "KV1R", 4);
  std::memcpy(a.serial, "QS000001", 8);
  a.text[0] = 'T';
  a.text[39] = 'Z';
  a.word112 = 0xD15C;
  std::vector<uint8_t> p = EncodeAnnounce(a);
  ASSERT_EQ(p.size(), 114u);
  std::vector<uint8_t> own = AnnouncePayload("KV1R", 0x0A470010, kMac);
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 26), std::vector<uint8_t>(own.begin(), own.begin() + 26));
  EXPECT_EQ(std::vector<uint8_t>(p.begin() + 39, p.begin() + 47), std::vector<uint8_t>(own.begin() + 39, own.begin() + 47));
  const uint8_t config[13] = {1, 10, 71, 0, 32, 255, 255, 240, 0, 10, 71, 0, 254};
  EXPECT_EQ(std::memcmp(&p[26], config, sizeof config), 0);
  EXPECT_EQ(p[47], 'Q');
  EXPECT_EQ(p[71], 'T');
  EXPECT_EQ(p[110], 'Z');
  EXPECT_EQ(p[111], 0);
  EXPECT_EQ(p[112], 0x5C);  // little-endian
  EXPECT_EQ(p[113], 0xD1);

  Announce back;
  ASSERT_TRUE(DecodeAnnounce(p.data(), p.size(), kAnnounceSize, &back));
  EXPECT_EQ(back.address, a.address);
  EXPECT_TRUE(back.dhcp);
  EXPECT_EQ(back.staticAddress, a.staticAddress);
  EXPECT_EQ(back.netmask, a.netmask);
  EXPECT_EQ(back.gateway, a.gateway);
  EXPECT_EQ(std::memcmp(back.serial, a.serial, 24), 0);
  EXPECT_EQ(back.text[39], 'Z');
  EXPECT_EQ(back.word112, 0xD15C);
  Sighting s;
  ASSERT_TRUE(SightingFromAnnounce(p.data(), p.size(), &s));
  EXPECT_EQ(s.address, a.address);
}

TEST(Announce, AShortPayloadReadsAsZerosAndNeverPastItsEnd) {
  std::vector<uint8_t> p = AnnouncePayload("KV2R", 0x0A470010, kMac, 87);
  p[26] = 1;
  p[86] = 'x';  // the last byte there: the text's 16th
  Announce a;
  // exactly as long as the library needs, in a buffer of exactly that size
  std::vector<uint8_t> exact(p.begin(), p.end());
  ASSERT_TRUE(DecodeAnnounce(exact.data(), exact.size(), kAnnounceNeededByLibrary, &a));
  EXPECT_EQ(a.text[15], 'x');
  EXPECT_EQ(a.text[16], 0);
  EXPECT_EQ(a.word112, 0);
  EXPECT_TRUE(a.dhcp);
  EXPECT_FALSE(DecodeAnnounce(exact.data(), 86, kAnnounceNeededByLibrary, &a));
  EXPECT_FALSE(DecodeAnnounce(nullptr, 0, 0, &a));
  p[26] = 2;  // only 1 means DHCP
  ASSERT_TRUE(DecodeAnnounce(p.data(), p.size(), kAnnounceNeededByScan, &a));
  EXPECT_FALSE(a.dhcp);
}

std::vector<uint8_t> Text(const std::string& inner) {
  std::vector<uint8_t> v;
  v.push_back(0x02);
  v.insert(v.end(), inner.begin(), inner.end());
  v.push_back(0x03);
  return v;
}

TEST(TextReply, ParsesCodeAddressAndMac) {
  TextReply s;
  std::vector<uint8_t> t = Text("RMT23510.71.0.20:00-1a-2B-3c-4D-5e trailing junk");
  ASSERT_TRUE(DecodeTextReply(t.data(), t.size(), &s));
  EXPECT_STREQ(s.row->displayName, "RMT-2359");
  EXPECT_EQ(s.address, 0x0A470014u);
  const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  EXPECT_EQ(std::memcmp(s.mac, mac, 6), 0);
}

TEST(TextReply, MalformedFormsAreNotTextReplies) {
  const char* bad[] = {
      "RMT235 10.71.0.20:00-1a-2b-3c-4d-5e",  // space after the code
      "RMT23510.71.0:00-1a-2b-3c-4d-5e",      // three numbers
      "RMT23510.71.0.20-00-1a-2b-3c-4d-5e",   // no ":"
      "RMT23510.71.0.20:00:1a:2b:3c:4d:5e",   // ":" between MAC groups
      "RMT23510.71.0.20:00-1a-2b-3c-4d-5",    // MAC cut short
      "RMT23510.71.0.20:0-1a-2b-3c-4d-5e",    // one-digit group
      "RMT23510.71.0.20:00-1g-2b-3c-4d-5e",   // not hex
      "RMT235+10.71.0.20:00-1a-2b-3c-4d-5e",  // a sign
      "XYZ10.71.0.20:00-1a-2b-3c-4d-5e",      // unknown code
      "RMT235256.71.0.20:00-1a-2b-3c-4d-5e",  // octet above 255
      "RMT2351000000000000000000000.1.1.1:00-1a-2b-3c-4d-5e",
      "",
  };
  for (const char* b : bad) {
    std::vector<uint8_t> t = Text(b);
    EXPECT_FALSE(DecodeTextReply(t.data(), t.size(), nullptr)) << b;
  }
  std::vector<uint8_t> t = Text("RMT23510.71.0.20:00-1a-2b-3c-4d-5e");
  t.back() = 0x04;
  EXPECT_FALSE(DecodeTextReply(t.data(), t.size(), nullptr));
  const uint8_t one[] = {0x02};
  EXPECT_FALSE(DecodeTextReply(one, 1, nullptr));
}

TEST(TextReply, WrittenAsTheDeviceSendsIt) {
  EXPECT_EQ(std::string(kScanProbe, kScanProbeSize), "Scan");
  const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  std::vector<uint8_t> t = EncodeTextReply("RMT235", 0x0A470014, mac, " extra");
  EXPECT_EQ(t, Text("RMT23510.71.0.20:00-1A-2B-3C-4D-5E extra"));
  TextReply r;
  ASSERT_TRUE(DecodeTextReply(t.data(), t.size(), &r));
  EXPECT_EQ(r.row->modelNumber, 4);
  EXPECT_EQ(r.address, 0x0A470014u);
  EXPECT_EQ(std::memcmp(r.mac, mac, 6), 0);
}

TEST(Classify, TextOfAnUnlistedModelIsConsumedAndNeverTriedAsBinary) {
  Sighting s;
  std::vector<uint8_t> t = Text("QMA27110.71.0.20:00-1a-2b-3c-4d-5e");
  EXPECT_EQ(ClassifyDatagram(kNonce, t.data(), t.size(), &s), Verdict::Consumed);
  t = Text("KV1R10.71.0.20:00-1a-2b-3c-4d-5e");
  ASSERT_EQ(ClassifyDatagram(kNonce, t.data(), t.size(), &s), Verdict::Report);
  EXPECT_EQ(s.row->modelNumber, 14);
}

TEST(Classify, AuthenticatedAnnounceRules) {
  Sighting s;
  std::vector<uint8_t> p = AnnouncePayload("A5261+", 0x0A480007, kMac);
  std::vector<uint8_t> r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  ASSERT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s), Verdict::Report);
  EXPECT_EQ(s.row->modelNumber, 11);
  EXPECT_EQ(s.address, 0x0A480007u);
  EXPECT_EQ(ClassifyDatagram(kOther, r.data(), r.size(), &s), Verdict::Dropped);
  r = BuildReply(kNonce, 0x5502, p.data(), p.size());
  EXPECT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s), Verdict::Dropped);
  p = AnnouncePayload("QMA523", 1, kMac);  // found but not listed
  r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  EXPECT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s), Verdict::Dropped);
  p = AnnouncePayload("KV2R", 1, kMac, 40);  // authentic, but too short
  r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  EXPECT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s), Verdict::Dropped);
}

// What the scan's counts are made of: the family of a listed model, an
// unlisted model by either form, and everything else.
TEST(Classify, SaysWhatKindOfReplyItWas) {
  Sighting s;
  ReplyKind k = ReplyKind::Invalid;
  std::vector<uint8_t> t = Text("RMT23510.71.0.20:00-1a-2b-3c-4d-5e");
  ASSERT_EQ(ClassifyDatagram(kNonce, t.data(), t.size(), &s, &k), Verdict::Report);
  EXPECT_EQ(k, ReplyKind::FirstFamily);
  t = Text("KV1R10.71.0.20:00-1a-2b-3c-4d-5e");
  ASSERT_EQ(ClassifyDatagram(kNonce, t.data(), t.size(), &s, &k), Verdict::Report);
  EXPECT_EQ(k, ReplyKind::Kvxr);
  t = Text("QMA27110.71.0.20:00-1a-2b-3c-4d-5e");
  ASSERT_EQ(ClassifyDatagram(kNonce, t.data(), t.size(), &s, &k), Verdict::Consumed);
  EXPECT_EQ(k, ReplyKind::Unlisted);

  std::vector<uint8_t> p = AnnouncePayload("A5261+", 0x0A480007, kMac);
  std::vector<uint8_t> r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  ASSERT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s, &k), Verdict::Report);
  EXPECT_EQ(k, ReplyKind::FirstFamily);
  p = AnnouncePayload("KV2R", 0x0A480007, kMac);
  r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  ASSERT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s, &k), Verdict::Report);
  EXPECT_EQ(k, ReplyKind::Kvxr);
  p = AnnouncePayload("QMA523", 1, kMac);
  r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  EXPECT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s, &k), Verdict::Dropped);
  EXPECT_EQ(k, ReplyKind::Unlisted);
  p = AnnouncePayload("KV2R", 0x0A480007, kMac);
  r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  EXPECT_EQ(ClassifyDatagram(kOther, r.data(), r.size(), &s, &k), Verdict::Dropped);  // an earlier scan's
  EXPECT_EQ(k, ReplyKind::Invalid);
  p = AnnouncePayload("ZZZZ", 1, kMac);  // no model of the table
  r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
  EXPECT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s, &k), Verdict::Dropped);
  EXPECT_EQ(k, ReplyKind::Invalid);
  const uint8_t junk[] = {'w', 'a', 'r', 'm'};
  EXPECT_EQ(ClassifyDatagram(kNonce, junk, sizeof junk, &s, &k), Verdict::Dropped);
  EXPECT_EQ(k, ReplyKind::Invalid);
}

TEST(Classify, FramedLikeTextButUnparsableIsTriedAsBinary) {
  // An authentic announce whose first byte is 0x02 and last byte is 0x03.
  std::vector<uint8_t> p = AnnouncePayload("KV3R", 0x0A470033, kMac);
  for (uint32_t salt = 0; salt < 200000; ++salt) {
    p[111] = static_cast<uint8_t>(salt);
    p[110] = static_cast<uint8_t>(salt >> 8);
    p[109] = static_cast<uint8_t>(salt >> 16);
    std::vector<uint8_t> r = BuildReply(kNonce, kReplyAnnounce, p.data(), p.size());
    r[0] = 0x02;
    // The digest covers the header, so rebuild it over the changed header.
    std::vector<uint8_t> body(r.begin(), r.begin() + 8 + static_cast<long>(p.size()));
    plat::Sha1 h;
    h.Update(kNonce, 16);
    h.Update(body.data(), body.size());
    uint8_t d[20];
    ASSERT_TRUE(h.Final(d));
    if (d[19] != 0x03) continue;
    std::memcpy(&r[8 + p.size()], d, 20);
    Sighting s;
    ASSERT_EQ(ClassifyDatagram(kNonce, r.data(), r.size(), &s), Verdict::Report);
    EXPECT_EQ(s.row->modelNumber, 12);
    return;
  }
  FAIL() << "no salt gave a digest ending in 0x03";
}

TEST(Wink, VersionDecidesTheDatagram) {
  EXPECT_EQ(ChooseWink({0, 136}), WinkKind::Legacy);
  EXPECT_EQ(ChooseWink({0, 1}), WinkKind::Legacy);
  EXPECT_EQ(ChooseWink({0, 137}), WinkKind::Authenticated);
  EXPECT_EQ(ChooseWink({1, 0}), WinkKind::Authenticated);
  EXPECT_EQ(ChooseWink({0, 0}), WinkKind::Authenticated);
  EXPECT_EQ(ChooseWink({1, 5}), WinkKind::Authenticated);
}

}  // namespace
}  // namespace qs::disc
