// Which datagram answers "what is your operation mode", and from which
// interfaces the device is asked. Replies are built here byte by byte, with
// the digest taken straight from SHA-1, not with the frame code under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "cli/support_opmode_query.h"
#include "platform/sha1.h"

namespace qs::cli {
namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kNonce[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const uint8_t kOlderNonce[16] = {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
const uint8_t kId[16] = {0xA5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x5A};
const uint8_t kOtherId[16] = {0xA5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x5A};

// header word, type and length (little-endian), payload, then SHA-1 of the
// nonce followed by everything before the digest.
Bytes Reply(const uint8_t nonce[16], uint16_t type, const Bytes& payload) {
  const size_t n = payload.size();
  Bytes r(8 + n + plat::kSha1Size);
  r[0] = 0x11, r[1] = 0x22, r[2] = 0x33, r[3] = 0x44;
  r[4] = static_cast<uint8_t>(type & 0xFF), r[5] = static_cast<uint8_t>(type >> 8);
  r[6] = static_cast<uint8_t>(n & 0xFF), r[7] = static_cast<uint8_t>(n >> 8);
  if (n) std::memcpy(&r[8], payload.data(), n);
  plat::Sha1 h;
  h.Update(nonce, 16);
  h.Update(r.data(), 8 + n);
  EXPECT_TRUE(h.Final(&r[8 + n]));
  return r;
}

Bytes IdItem(const uint8_t id[16]) {
  Bytes b(18);
  b[0] = 0xA0, b[1] = 16;
  std::memcpy(&b[2], id, 16);
  return b;
}
Bytes ModeItem(uint8_t mode) { return {0xA1, 1, mode}; }
Bytes Cat(const Bytes& a, const Bytes& b) {
  Bytes c(a.size() + b.size());
  std::copy(a.begin(), a.end(), c.begin());
  std::copy(b.begin(), b.end(), c.begin() + static_cast<std::ptrdiff_t>(a.size()));
  return c;
}

OpModeReply Read(const Bytes& d, uint8_t* mode) { return ReadOpModeReply(kNonce, kId, d.data(), d.size(), mode); }

TEST(OpModeQuery, TakesOnlyTheAskedDevicesReportToTheLatestRequest) {
  uint8_t mode = 0xEE;
  EXPECT_EQ(Read(Reply(kNonce, 0x5504, Cat(IdItem(kId), ModeItem(9))), &mode), OpModeReply::Report);
  EXPECT_EQ(mode, 9);
  // Mode 0 is an answer too, and the items may come in either order, with
  // unknown ones between.
  mode = 0xEE;
  EXPECT_EQ(Read(Reply(kNonce, 0x5504, Cat(Cat(ModeItem(0), Bytes{0xB7, 2, 1, 2}), IdItem(kId))), &mode),
            OpModeReply::Report);
  EXPECT_EQ(mode, 0);

  mode = 0xEE;
  EXPECT_EQ(Read(Reply(kNonce, 0x5504, Cat(IdItem(kOtherId), ModeItem(7))), &mode), OpModeReply::OtherDevice);
  EXPECT_EQ(Read(Reply(kNonce, 0x5504, ModeItem(7)), &mode), OpModeReply::Incomplete);
  EXPECT_EQ(Read(Reply(kNonce, 0x5504, IdItem(kId)), &mode), OpModeReply::Incomplete);
  // An identifier item of the wrong length names no device.
  Bytes shortId = IdItem(kId);
  shortId[1] = 15;
  shortId.pop_back();
  EXPECT_EQ(Read(Reply(kNonce, 0x5504, Cat(shortId, ModeItem(7))), &mode), OpModeReply::Incomplete);
  // The announce and anything else that is no report.
  EXPECT_EQ(Read(Reply(kNonce, 0x5501, Cat(IdItem(kId), ModeItem(7))), &mode), OpModeReply::OtherType);
  EXPECT_EQ(Read(Reply(kNonce, 0x5404, Cat(IdItem(kId), ModeItem(7))), &mode), OpModeReply::OtherType);
  EXPECT_EQ(mode, 0xEE);
}

TEST(OpModeQuery, RefusesWhatDoesNotAuthenticate) {
  uint8_t mode = 0xEE;
  const Bytes good = Reply(kNonce, 0x5504, Cat(IdItem(kId), ModeItem(9)));
  // The answer to a request before the latest one.
  EXPECT_EQ(Read(Reply(kOlderNonce, 0x5504, Cat(IdItem(kId), ModeItem(9))), &mode), OpModeReply::NotCurrent);
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(Read(longer, &mode), OpModeReply::NotCurrent);
  Bytes shorter(good.begin(), good.end() - 1);
  EXPECT_EQ(Read(shorter, &mode), OpModeReply::NotCurrent);
  Bytes flipped = good;
  flipped[10] ^= 0x01;  // inside the payload, after the digest was taken
  EXPECT_EQ(Read(flipped, &mode), OpModeReply::NotCurrent);
  flipped = good;
  flipped.back() ^= 0x80;
  EXPECT_EQ(Read(flipped, &mode), OpModeReply::NotCurrent);
  EXPECT_EQ(ReadOpModeReply(kNonce, kId, good.data(), 0, &mode), OpModeReply::NotCurrent);
  EXPECT_EQ(ReadOpModeReply(kNonce, kId, good.data(), 27, &mode), OpModeReply::NotCurrent);
  EXPECT_EQ(mode, 0xEE);
}

net::InterfaceEntry Entry(uint32_t address, uint32_t netmask) {
  net::InterfaceEntry e;
  e.address = address;
  e.netmask = netmask;
  return e;
}

TEST(OpModeQuery, AsksFromTheDevicesSubnetElseFromEveryInterface) {
  const std::vector<net::InterfaceEntry> all = {Entry(0x0A470001u, 0xFFFFF000u), Entry(0x0A480001u, 0xFFFFF000u),
                                                Entry(0xC0A80105u, 0xFFFFFF00u)};
  std::vector<net::InterfaceEntry> got = InterfacesToAsk(all, 0x0A480FFEu);  // 10.72.15.254
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].address, 0x0A480001u);
  got = InterfacesToAsk(all, 0x0A471001u);  // 10.71.16.1: beyond the /20 of 10.71.0.1
  EXPECT_EQ(got.size(), 3u);
  // Two interfaces on one subnet: both.
  std::vector<net::InterfaceEntry> twice = all;
  twice.push_back(Entry(0x0A480002u, 0xFFFFF000u));
  got = InterfacesToAsk(twice, 0x0A480042u);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].address, 0x0A480002u);
  // No more sockets than one wait takes.
  std::vector<net::InterfaceEntry> many;
  for (uint32_t i = 0; i < 14; ++i) many.push_back(Entry(0x0A000001u + (i << 8), 0xFFFFFF00u));
  EXPECT_EQ(InterfacesToAsk(many, 0xC0A80001u).size(), kOpModeMaxInterfaces);
  EXPECT_TRUE(InterfacesToAsk({}, 0x0A480042u).empty());
}

}  // namespace
}  // namespace qs::cli
