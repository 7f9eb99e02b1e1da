// The KV-xR wire formats and the device line, as the library, the program and
// the simulator read and write them. Byte positions are spelled out here, apart
// from the headers, so that a layout and its encoder cannot be wrong the same
// way.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library/device_line.h"
#include "library/opmode_report.h"
#include "library/reboot_request.h"
#include "library/set_config.h"
#include "library/version_reply.h"

namespace qs::kvxr {
namespace {

// ---- operation-mode report ----

// The report's identifier and mode, when it names both.
bool ParseOpModeReport(const uint8_t* p, size_t len, uint8_t id[16], uint8_t* mode) {
  OpModeReport r;
  if (!DecodeOpModeReport(p, len, &r)) return false;
  std::memcpy(id, r.hardwareId, 16);
  *mode = r.mode;
  return true;
}

TEST(OpModeReport, NeedsBothItemsAndWholeItems) {
  std::vector<uint8_t> both = {0x33, 1, 9, 0xA0, 16};
  for (int i = 0; i < 16; ++i) both.push_back(static_cast<uint8_t>(i));
  both.insert(both.end(), {0xA1, 1, 7});
  uint8_t id[16] = {};
  uint8_t mode = 0;
  ASSERT_TRUE(ParseOpModeReport(both.data(), both.size(), id, &mode));
  EXPECT_EQ(mode, 7);
  EXPECT_EQ(id[15], 15);

  const uint8_t onlyMode[] = {0xA1, 1, 7};
  EXPECT_FALSE(ParseOpModeReport(onlyMode, sizeof onlyMode, id, &mode));

  std::vector<uint8_t> shortId = {0xA0, 15};
  shortId.resize(17, 1);
  shortId.insert(shortId.end(), {0xA1, 1, 7});
  EXPECT_FALSE(ParseOpModeReport(shortId.data(), shortId.size(), id, &mode));

  std::vector<uint8_t> cut(both.begin(), both.end() - 1);  // the mode item runs past the end
  EXPECT_FALSE(ParseOpModeReport(cut.data(), cut.size(), id, &mode));
  EXPECT_FALSE(ParseOpModeReport(nullptr, 5, id, &mode));
}

TEST(OpModeReport, WrittenAsTheDeviceSendsIt) {
  OpModeReport r;
  for (int i = 0; i < 16; ++i) r.hardwareId[i] = static_cast<uint8_t>(0x40 + i);
  r.hasId = true;
  r.mode = 0x7E;
  r.hasMode = true;
  std::vector<uint8_t> want = {0xA0, 16};
  for (int i = 0; i < 16; ++i) want.push_back(static_cast<uint8_t>(0x40 + i));
  want.insert(want.end(), {0xA1, 1, 0x7E});
  EXPECT_EQ(EncodeOpModeReport(r), want);
  OpModeReport back;
  ASSERT_TRUE(DecodeOpModeReport(want.data(), want.size(), &back));
  EXPECT_EQ(back.mode, 0x7E);
  EXPECT_EQ(std::memcmp(back.hardwareId, r.hardwareId, 16), 0);

  r.hasId = false;  // a device that leaves its identifier out
  EXPECT_EQ(EncodeOpModeReport(r), (std::vector<uint8_t>{0xA1, 1, 0x7E}));
  std::vector<uint8_t> modeOnly = EncodeOpModeReport(r);
  EXPECT_FALSE(DecodeOpModeReport(modeOnly.data(), modeOnly.size(), &back));
  EXPECT_TRUE(back.hasMode);
  EXPECT_FALSE(back.hasId);
}

// ---- version reply ----

bool Version(const std::string& text, uint32_t* a, uint32_t* b) {
  std::string s = std::string("\x02Version:") + text;
  return DecodeVersionReply(reinterpret_cast<const uint8_t*>(s.data()), s.size(), a, b);
}

TEST(VersionReply, DigitsDotDigitsEndingAtTheFirstNonDigit) {
  uint32_t a = 0, b = 0;
  ASSERT_TRUE(Version("1.12", &a, &b));
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 12u);
  ASSERT_TRUE(Version("2.005 build", &a, &b));
  EXPECT_EQ(b, 5u);
  for (const char* bad : {" 1.12", "x1.12", "1.", ".5", "1", "-1.2", "1 .2", "99999999999.1", ""})
    EXPECT_FALSE(Version(bad, &a, &b)) << bad;
  const uint8_t noMarker[] = "Version:1.12";
  EXPECT_FALSE(DecodeVersionReply(noMarker, sizeof noMarker - 1, &a, &b));
}

TEST(VersionReply, QueryAndReplyAsTheDeviceSendsThem) {
  EXPECT_EQ(std::string(kVersionQuery, kVersionQuerySize), "?Version");
  std::vector<uint8_t> r = EncodeVersionReply(1, 12);
  EXPECT_EQ(std::string(r.begin(), r.end()), std::string("\x02Version:1.12"));
  r = EncodeVersionReply(4294967295u, 0);
  uint32_t a = 0, b = 1;
  ASSERT_TRUE(DecodeVersionReply(r.data(), r.size(), &a, &b));
  EXPECT_EQ(a, 4294967295u);
  EXPECT_EQ(b, 0u);
}

// ---- set-config ----

uint32_t Be(const std::vector<uint8_t>& p, size_t at) {
  return (uint32_t(p[at]) << 24) | (uint32_t(p[at + 1]) << 16) | (uint32_t(p[at + 2]) << 8) | p[at + 3];
}

SetConfigRequest Request() {
  SetConfigRequest r;
  for (int i = 0; i < 16; ++i) r.hardwareId[i] = static_cast<uint8_t>(0xB0 + i);
  const uint8_t mac[6] = {2, 0x51, 0x53, 0, 0, 9};
  std::memcpy(r.mac, mac, 6);
  r.dhcp = false;
  r.operationMode = 6;
  r.staticAddress = 0x0A470030;
  r.netmask = 0xFFFFF000;
  r.gateway = 0x0A4700FE;
  std::memcpy(r.modelCode, "KV2R\0xyz", 8);  // after the NUL: not sent
  std::memcpy(r.serial, "QS000009", 8);
  r.text[0] = 'x';
  r.text[39] = 'y';  // the text field goes as the announce carried it
  return r;
}

TEST(SetConfig, FieldsAtTheirOffsets) {
  std::vector<uint8_t> p = EncodeSetConfig(Request());
  ASSERT_EQ(p.size(), 108u);
  EXPECT_EQ(p[0], 0xB0);
  EXPECT_EQ(p[15], 0xBF);
  EXPECT_EQ(p[16], 2);
  EXPECT_EQ(p[21], 9);
  EXPECT_EQ(p[22], 0);
  EXPECT_EQ(p[23], 6);
  EXPECT_EQ(Be(p, 24), 0x0A470030u);
  EXPECT_EQ(Be(p, 28), 0xFFFFF000u);
  EXPECT_EQ(Be(p, 32), 0x0A4700FEu);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[36]), 8), std::string("KV2R\0\0\0\0", 8));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p[44])), "QS000009");
  EXPECT_EQ(p[68], 'x');
  EXPECT_EQ(p[107], 'y');
}

TEST(SetConfig, TheDeviceReadsWhatTheLibraryWrites) {
  SetConfigRequest sent = Request();
  sent.dhcp = true;
  std::vector<uint8_t> p = EncodeSetConfig(sent);
  EXPECT_EQ(p[22], 1);
  SetConfigRequest got;
  ASSERT_TRUE(DecodeSetConfig(p.data(), p.size(), &got));
  EXPECT_TRUE(got.dhcp);
  EXPECT_EQ(got.operationMode, 6);
  EXPECT_EQ(got.staticAddress, 0x0A470030u);
  EXPECT_EQ(got.gateway, 0x0A4700FEu);
  EXPECT_EQ(std::memcmp(got.mac, sent.mac, 6), 0);
  EXPECT_EQ(std::memcmp(got.hardwareId, sent.hardwareId, 16), 0);
  EXPECT_EQ(got.text[39], 'y');
  p[22] = 2;  // only 1 asks for DHCP
  ASSERT_TRUE(DecodeSetConfig(p.data(), p.size(), &got));
  EXPECT_FALSE(got.dhcp);
  EXPECT_FALSE(DecodeSetConfig(p.data(), 107, &got));
  p.push_back(0);
  EXPECT_FALSE(DecodeSetConfig(p.data(), p.size(), &got));
}

TEST(SetConfig, OnlyTheByteOneAccepts) {
  EXPECT_EQ(EncodeSetConfigAck(true), std::vector<uint8_t>{1});
  EXPECT_EQ(EncodeSetConfigAck(false), std::vector<uint8_t>{0});
  const uint8_t yes[] = {1, 0xFF}, no[] = {0}, two[] = {2};
  EXPECT_TRUE(SetConfigAccepted(yes, sizeof yes));
  EXPECT_FALSE(SetConfigAccepted(no, sizeof no));
  EXPECT_FALSE(SetConfigAccepted(two, sizeof two));
  EXPECT_FALSE(SetConfigAccepted(yes, 0));  // an empty acknowledgement refuses
}

// ---- reboot ----

TEST(Reboot, FirstRequestCarriesNoResponseSecondCarriesIt) {
  uint8_t id[16];
  for (int i = 0; i < 16; ++i) id[i] = static_cast<uint8_t>(i + 1);
  std::vector<uint8_t> first = EncodeRebootRequest(id, nullptr);
  ASSERT_EQ(first.size(), 40u);
  EXPECT_EQ(std::memcmp(first.data(), id, 16), 0);
  for (size_t i = 16; i < 40; ++i) EXPECT_EQ(first[i], 0) << i;
  RebootRequest r;
  ASSERT_TRUE(DecodeRebootRequest(first.data(), first.size(), &r));
  EXPECT_TRUE(r.first);

  RebootText answer;
  std::memcpy(answer.text, "/////////////////////w==", 24);
  std::vector<uint8_t> second = EncodeRebootRequest(id, &answer);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&second[16]), 24), "/////////////////////w==");
  ASSERT_TRUE(DecodeRebootRequest(second.data(), second.size(), &r));
  EXPECT_FALSE(r.first);
  EXPECT_STREQ(r.response.text, "/////////////////////w==");
  EXPECT_FALSE(DecodeRebootRequest(second.data(), 39, &r));
}

TEST(Reboot, ChallengeAnsweredWithItsBytesInverted) {
  uint8_t id[16] = {}, zeros[16] = {}, got[16];
  std::vector<uint8_t> c = EncodeChallenge(id, zeros);
  ASSERT_EQ(c.size(), 40u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&c[16]), 24), "AAAAAAAAAAAAAAAAAAAAAA==");
  ASSERT_TRUE(DecodeChallenge(c.data(), c.size(), got));
  EXPECT_EQ(std::memcmp(got, zeros, 16), 0);
  EXPECT_STREQ(ResponseTo(got).text, "/////////////////////w==");
  EXPECT_FALSE(DecodeChallenge(c.data(), 39, got));  // a short payload is not read
}

}  // namespace
}  // namespace qs::kvxr

// ---- device line ----

namespace qs::kvxr {
namespace {

// The MAC of a line that has the layout the program's page relies on.
bool ReadDeviceLineMac(std::string_view line, uint8_t mac[6]) {
  DeviceLine d;
  if (!ParseDeviceLine(line, &d, LineRule::Leading)) return false;
  std::memcpy(mac, d.mac, 6);
  return true;
}

TEST(DeviceLineTest, MatchesTheLibraryLayout) {
  uint8_t mac[6];
  ASSERT_TRUE(ReadDeviceLineMac("KV-2R|192.168.1.20|00:11:22:AA:bb:CC|1.12|static|192.168.1.20|255.255.255.0|192.168.1.1", mac));
  const uint8_t want[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
  EXPECT_EQ(0, memcmp(mac, want, 6));
  EXPECT_TRUE(ReadDeviceLineMac("KV-1R|10.0.0.5|00-11-22-33-44-55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1", mac));
  // Fields need only begin right.
  EXPECT_TRUE(ReadDeviceLineMac("x|10.0.0.5x|00:11:22:33:44:55x|y|DHCPz|10.0.0.5 |255.255.255.0!|10.0.0.1|extra", mac));
}

TEST(DeviceLineTest, RejectsMalformedLines) {
  uint8_t mac[6];
  for (const char* bad : {
           "", "KV-1R", "KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0",
           "KV-1R|10.0.0.256|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
           "KV-1R|10.0.0.5|00:11:22:33:44|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
           "KV-1R|10.0.0.5|00:11:22:33:44:55|*|dhcp|10.0.0.5|255.255.255.0|10.0.0.1",
           "KV-1R|10.0.0.5|00:11:22:33:44:55|*| static|10.0.0.5|255.255.255.0|10.0.0.1",
           "KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0| 10.0.0.1"}) {
    EXPECT_FALSE(ReadDeviceLineMac(bad, mac)) << bad;
  }
}

// What the library writes, every reader reads back as it was.
TEST(DeviceLineTest, WrittenLinesReadBackUnderBothRules) {
  DeviceLine d;
  d.model = "KV-3R";
  d.address = 0xC0A80114;
  const uint8_t mac[6] = {0x02, 0xAB, 0x00, 0x0C, 0xFF, 0x01};
  std::memcpy(d.mac, mac, 6);
  d.major = 4294967295u;
  d.minor = 7;
  d.dhcp = true;
  d.staticAddress = 0;
  d.netmask = 0xFFFFFFFF;
  d.gateway = 0x0A000001;
  const std::string text = FormatDeviceLine(d);
  EXPECT_EQ(text, "KV-3R|192.168.1.20|02:AB:00:0C:FF:01|4294967295.7|DHCP|0.0.0.0|255.255.255.255|10.0.0.1");
  for (LineRule rule : {LineRule::Whole, LineRule::Leading}) {
    DeviceLine back;
    ASSERT_TRUE(ParseDeviceLine(text, &back, rule));
    EXPECT_EQ(back.model, "KV-3R");
    EXPECT_EQ(back.address, d.address);
    EXPECT_EQ(std::memcmp(back.mac, mac, 6), 0);
    EXPECT_TRUE(back.dhcp);
    EXPECT_EQ(back.netmask, 0xFFFFFFFFu);
    EXPECT_EQ(back.gateway, 0x0A000001u);
    if (rule == LineRule::Whole) {
      EXPECT_EQ(back.major, 4294967295u);
      EXPECT_EQ(back.minor, 7u);
    }
  }
  d.major = d.minor = 0;
  d.dhcp = false;
  DeviceLine back;
  ASSERT_TRUE(ParseDeviceLine(FormatDeviceLine(d), &back));
  EXPECT_NE(FormatDeviceLine(d).find("|*|static|"), std::string::npos);
  EXPECT_EQ(back.major, 0u);
  EXPECT_FALSE(back.dhcp);
}

}  // namespace
}  // namespace qs::kvxr
