// The network-configuration text, the set-config request merged from it and
// the device's announce, and the reboot challenge's answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/base64.h"
#include "library/network_config.h"
#include "library/reboot_request.h"

namespace qs::kvxr {
namespace {

std::u16string W(const char* s) { return std::u16string(s, s + std::strlen(s)); }

int32_t Parse(const char* text, NetworkSettings* s) {
  std::u16string w = W(text);
  return ParseNetworkText(reinterpret_cast<const KVxR_WCHAR*>(w.c_str()), s);
}

TEST(NetworkText, KeywordsFieldsAndSeparators) {
  NetworkSettings s;
  ASSERT_EQ(Parse("static|10.0.0.5|255.255.255.0|10.0.0.1", &s), 0);
  EXPECT_EQ(s.dhcp, 0u);
  EXPECT_EQ(s.address, 0x0A000005u);
  EXPECT_EQ(s.netmask, 0xFFFFFF00u);
  EXPECT_EQ(s.gateway, 0x0A000001u);
  EXPECT_TRUE(s.addressPresent && s.netmaskPresent && s.gatewayPresent);
  EXPECT_FALSE(s.operationModePresent);

  ASSERT_EQ(Parse("DHCP|*|*|*", &s), 0);
  EXPECT_EQ(s.dhcp, 1u);
  EXPECT_FALSE(s.addressPresent || s.netmaskPresent || s.gatewayPresent);
  ASSERT_EQ(Parse("static|*|*|*", &s), 0);  // static requested, nothing given
  EXPECT_EQ(s.dhcp, 0u);
  EXPECT_FALSE(s.addressPresent);

  EXPECT_EQ(Parse(" \tstatic \t| 10.0.0.5 |\t255.255.255.0 | 10.0.0.1 trailing text", &s), 0);
  EXPECT_EQ(s.gateway, 0x0A000001u);
  EXPECT_EQ(Parse("DHCP|*|*|*anything", &s), 0);

  EXPECT_EQ(Parse("dhcp|*|*|*", &s), KVXR_BAD_KEYWORD);
  EXPECT_EQ(Parse("Static|*|*|*", &s), KVXR_BAD_KEYWORD);
  EXPECT_EQ(Parse("", &s), KVXR_BAD_KEYWORD);
  EXPECT_EQ(ParseNetworkText(nullptr, &s), KVXR_BAD_KEYWORD);
  EXPECT_EQ(Parse("static*|*|*", &s), KVXR_NO_SEPARATOR);
  EXPECT_EQ(Parse("static|*|*", &s), KVXR_NO_SEPARATOR);
  EXPECT_EQ(Parse("static|*,*|*", &s), KVXR_NO_SEPARATOR);
  EXPECT_EQ(Parse("static|10.0.0|*|*", &s), KVXR_BAD_ADDRESS);
  EXPECT_EQ(Parse("static|10.0.0.256|*|*", &s), KVXR_BAD_ADDRESS);
  EXPECT_EQ(Parse("static|10..0.0|*|*", &s), KVXR_BAD_ADDRESS);
  EXPECT_EQ(Parse("static|*|*|1.2.3.", &s), KVXR_BAD_ADDRESS);
  EXPECT_EQ(Parse("static|99999999999999999999.1.1.1|*|*", &s), KVXR_BAD_ADDRESS);
  EXPECT_EQ(Parse("static|10.0.0.1|", &s), KVXR_BAD_ADDRESS);  // the text ends inside
}

// Characters beyond ASCII never pass for the ASCII ones their low byte spells.
TEST(NetworkText, OnlyAsciiCharactersMatch) {
  NetworkSettings s;
  std::u16string t = u"static|10.0.0.5|*|*";
  ASSERT_EQ(ParseNetworkText(reinterpret_cast<const KVxR_WCHAR*>(t.c_str()), &s), KVXR_OK);
  t[9] = u'\u012E';  // low byte '.'
  EXPECT_EQ(ParseNetworkText(reinterpret_cast<const KVxR_WCHAR*>(t.c_str()), &s), KVXR_BAD_ADDRESS);
  t = u"static\u017C*|*|*";  // low byte '|'
  EXPECT_EQ(ParseNetworkText(reinterpret_cast<const KVxR_WCHAR*>(t.c_str()), &s), KVXR_NO_SEPARATOR);
  t = u"\u0144HCP|*|*|*";  // low byte 'D'
  EXPECT_EQ(ParseNetworkText(reinterpret_cast<const KVxR_WCHAR*>(t.c_str()), &s), KVXR_BAD_KEYWORD);
  t = u"static|1\uFF10.0.0.5|*|*";  // a fullwidth digit
  EXPECT_EQ(ParseNetworkText(reinterpret_cast<const KVxR_WCHAR*>(t.c_str()), &s), KVXR_BAD_ADDRESS);
}

CurrentDevice Current() {
  CurrentDevice d;
  disc::Announce& a = d.announce;
  for (int i = 0; i < 16; ++i) a.hardwareId[i] = static_cast<uint8_t>(i + 1);
  const uint8_t mac[6] = {2, 0x51, 0x53, 0, 0, 9};
  std::memcpy(a.mac, mac, 6);
  a.address = 0x0A470809;  // leased
  a.staticAddress = 0x0A470020;
  a.netmask = 0xFFFFF000;
  a.gateway = 0x0A4700FE;
  std::memcpy(a.modelCode, "KV2R", 4);
  std::memcpy(a.serial, "QS000009", 8);
  a.text[0] = 'x';
  d.operationMode = 6;
  return d;
}

// The 108 bytes the set-config request carries.
std::vector<uint8_t> SetConfigPayload(const NetworkSettings& s, const CurrentDevice& d) {
  return EncodeSetConfig(MergeSettings(s, d));
}

uint32_t Be(const std::vector<uint8_t>& p, size_t at) {
  return (uint32_t(p[at]) << 24) | (uint32_t(p[at + 1]) << 16) | (uint32_t(p[at + 2]) << 8) | p[at + 3];
}

TEST(SetConfigPayload, StaticTakesGivenFieldsAndKeepsTheRest) {
  NetworkSettings s;
  s.address = 0x0A470030;
  s.addressPresent = 1;
  std::vector<uint8_t> p = SetConfigPayload(s, Current());
  ASSERT_EQ(p.size(), 108u);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(p[16 + 5], 9);
  EXPECT_EQ(p[22], 0);
  EXPECT_EQ(p[23], 6);  // the device's own mode
  EXPECT_EQ(Be(p, 24), 0x0A470030u);
  EXPECT_EQ(Be(p, 28), 0xFFFFF000u);
  EXPECT_EQ(Be(p, 32), 0x0A4700FEu);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[36])), "KV2R");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[44])), "QS000009");
  EXPECT_EQ(p[68], 'x');
}

TEST(SetConfigPayload, DhcpSendsTheCurrentAddressWhateverWasGiven) {
  NetworkSettings s;
  s.dhcp = 1;
  s.address = 0x01020304;
  s.addressPresent = 1;
  s.operationMode = 0x77;
  s.operationModePresent = 1;
  std::vector<uint8_t> p = SetConfigPayload(s, Current());
  EXPECT_EQ(p[22], 1);
  EXPECT_EQ(p[23], 0x77);
  EXPECT_EQ(Be(p, 24), 0x0A470809u);
  s.dhcp = 0x100;  // only the low byte counts
  EXPECT_EQ(SetConfigPayload(s, Current())[22], 0);
}

// The response to the challenge field of a challenge payload (24 characters,
// NUL-ended when shorter).
bool ChallengeResponse(const uint8_t field[24], char out[25]) {
  uint8_t payload[40] = {};
  std::memcpy(payload + 16, field, 24);
  uint8_t challenge[16];
  if (!DecodeChallenge(payload, sizeof payload, challenge)) return false;
  std::memcpy(out, ResponseTo(challenge).text, 25);
  return true;
}

TEST(Challenge, AnsweredWithItsBytesInverted) {
  uint8_t zeros[16] = {};
  std::string c = Base64Encode(zeros, 16);
  ASSERT_EQ(c.size(), 24u);
  uint8_t field[24] = {};
  std::memcpy(field, c.data(), 24);
  char out[25];
  ASSERT_TRUE(ChallengeResponse(field, out));
  uint8_t ones[16];
  std::memset(ones, 0xFF, 16);
  EXPECT_EQ(std::string(out), Base64Encode(ones, 16));
  EXPECT_EQ(std::string(out), "/////////////////////w==");

  const char* bad[] = {"@@not*base64@@~~~~~~~~~~", "AAAAAAAAAAAAAAAAAAAAAA=A", "AAAAAAAAAAAAAAAAAAAAAAA", "",
                       "AAAA"};
  for (const char* b : bad) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, b, std::strlen(b));
    EXPECT_FALSE(ChallengeResponse(field, out)) << b;
  }
}

TEST(Base64, RoundTripAndStrictDecoding) {
  std::vector<uint8_t> out;
  ASSERT_TRUE(Base64Decode("TWFu", &out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "Man");
  ASSERT_TRUE(Base64Decode("TWE=", &out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "Ma");
  ASSERT_TRUE(Base64Decode("TQ==", &out));
  EXPECT_EQ(out.size(), 1u);
  EXPECT_FALSE(Base64Decode("TQ==TWFu", &out));  // data after padding
  EXPECT_FALSE(Base64Decode("T===", &out));
  EXPECT_FALSE(Base64Decode("TWF", &out));
  EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>("Ma"), 2), "TWE=");
}

}  // namespace
}  // namespace qs::kvxr
