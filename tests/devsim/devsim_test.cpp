// The simulator seen from the PC namespace, over real UDP in the test
// network: each probe answered as the wire format says, faults as described,
// settings that persist across a reboot. The frames are built and checked
// here independently of the simulator's own encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/sha1.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "platform/uuid.h"
#include "tests/support/sim_client.h"

namespace qs {
namespace {

using test::SimClient;
using test::TestNet;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBcastA = 0x0A470FFFu;  // 10.71.15.255
constexpr uint32_t kBcastB = 0x0A480FFFu;
constexpr uint32_t kLimited = 0xFFFFFFFFu;

struct Nonce {
  uint8_t b[16];
  Nonce() { plat::NewUuid(b); }
};

Bytes Request(const Nonce& n, uint16_t cmd, const Bytes& payload) {
  Bytes f(n.b, n.b + 16);
  f.push_back(static_cast<uint8_t>(cmd));
  f.push_back(static_cast<uint8_t>(cmd >> 8));
  f.push_back(static_cast<uint8_t>(payload.size()));
  f.push_back(static_cast<uint8_t>(payload.size() >> 8));
  f.insert(f.end(), payload.begin(), payload.end());
  uint8_t d[20];
  plat::Sha1Digest(f.data(), f.size(), d);
  f.insert(f.end(), d, d + 20);
  return f;
}

struct Reply {
  uint16_t type = 0;
  Bytes payload;
};

// The receiver's rule: length N + 28 and SHA-1(nonce | first N + 8 bytes).
bool Verify(const Nonce& n, const Bytes& d, Reply* out) {
  if (d.size() < 28) return false;
  size_t len = d[6] | (d[7] << 8);
  if (d.size() != len + 28) return false;
  plat::Sha1 sha;
  sha.Update(n.b, 16);
  sha.Update(d.data(), len + 8);
  uint8_t dig[20];
  sha.Final(dig);
  if (std::memcmp(dig, d.data() + len + 8, 20) != 0) return false;
  out->type = static_cast<uint16_t>(d[4] | (d[5] << 8));
  out->payload.assign(d.begin() + 8, d.begin() + 8 + static_cast<long>(len));
  return true;
}

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

std::string Field(const Bytes& p, size_t at, size_t width) {
  std::string s(reinterpret_cast<const char*>(p.data() + at), width);
  return s.substr(0, s.find('\0'));
}

Bytes Unhex(const std::string& h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return b;
}

std::string MacText(const uint8_t* m) {
  char b[18];
  std::snprintf(b, sizeof b, "%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return b;
}

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string B64(const uint8_t* d, size_t n) {
  std::string o;
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = uint32_t(d[i]) << 16 | (i + 1 < n ? uint32_t(d[i + 1]) << 8 : 0) | (i + 2 < n ? d[i + 2] : 0);
    for (int k = 0; k < 4; ++k) o += (k < 2 || i + k <= n) ? kB64[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return o;
}

bool UnB64(const std::string& t, Bytes* out) {
  out->clear();
  if (t.empty() || t.size() % 4) return false;
  uint32_t v = 0;
  int bits = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '=') return i >= t.size() - 2;
    const char* p = std::strchr(kB64, t[i]);
    if (!p || !t[i]) return false;
    v = (v << 6) | uint32_t(p - kB64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<uint8_t>(v >> bits));
    }
  }
  return true;
}

struct Datagram {
  Bytes data;
  uint32_t from = 0;
  uint32_t at = 0;  // ms after the collection started
};

// One PC-side socket on an interface of the test network.
class Pc {
 public:
  explicit Pc(uint32_t local) {
    ok_ = sock_.Open() && sock_.Bind(local, 0) && sock_.SetBroadcast(true) && sock_.SetReceiveBuffer(16 << 20);
  }
  bool ok() const { return ok_; }
  size_t errors = 0;
  void Send(const Bytes& b, uint32_t to, uint16_t port) { sock_.SendTo(b.data(), b.size(), to, port); }
  void Send(const std::string& s, uint32_t to, uint16_t port) { sock_.SendTo(s.data(), s.size(), to, port); }
  // Everything that arrives until quietMs pass with nothing, at most maxMs,
  // into a receive buffer of bufSize bytes (a longer datagram is an error).
  std::vector<Datagram> Collect(uint32_t quietMs = 500, uint32_t maxMs = 4000, size_t bufSize = 2048) {
    std::vector<Datagram> out;
    uint32_t start = plat::TickCount(), last = start;
    while (plat::TicksSince(start) < maxMs) {
      uint32_t idle = plat::TicksSince(last);
      if (idle >= quietMs) break;
      uint8_t buf[2048];
      plat::SockAddr from;
      int n = sock_.RecvFromTimeout(buf, std::min(bufSize, sizeof buf), &from, quietMs - idle);
      if (n == plat::kSockTimeout) break;
      if (n < 0) {
        ++errors;  // a receive error, as for a datagram beyond the buffer
        last = plat::TickCount();
        continue;
      }
      last = plat::TickCount();
      out.push_back({Bytes(buf, buf + n), from.address, plat::TicksSince(start)});
    }
    return out;
  }

 private:
  plat::UdpSocket sock_;
  bool ok_ = false;
};

class DevSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TestNet::Available()) << "run inside testnet/run.sh";
    ASSERT_TRUE(sim.Connect());
    ASSERT_TRUE(sim.Reset());
    ASSERT_TRUE(a.ok() && b.ok());
  }
  std::string Add(const std::string& settings) {
    std::string why;
    std::string mac = sim.AddDevice(settings, &why);
    EXPECT_FALSE(mac.empty()) << settings << ": " << why;
    return mac;
  }
  std::map<std::string, std::string> Show(const std::string& mac) { return sim.Show(mac); }
  uint32_t Ip(const std::string& mac) { return test::ParseAddress(Show(mac)["ip"]); }
  Bytes Hwid(const std::string& mac) { return Unhex(Show(mac)["hwid"]); }

  // The authenticated replies among datagrams, against a nonce.
  static std::vector<Reply> Verified(const Nonce& n, const std::vector<Datagram>& got) {
    std::vector<Reply> r;
    for (auto& g : got) {
      Reply x;
      if (Verify(n, g.data, &x)) r.push_back(x);
    }
    return r;
  }
  static std::set<std::string> AnnouncedMacs(const std::vector<Reply>& r) {
    std::set<std::string> s;
    for (auto& x : r)
      if (x.type == 0x5501 && x.payload.size() >= 26) s.insert(MacText(x.payload.data() + 20));
    return s;
  }

  SimClient sim;
  Pc a{TestNet::PcA()}, b{TestNet::PcB()};
};

// ---- first family ----

TEST_F(DevSim, TextScanIsAnsweredByTheLegacyReplyOfEachDeviceOnTheSegment) {
  std::string m1 = Add("model=RMT235 segment=A reply=text");
  std::string m2 = Add("model=A5411+ segment=A reply=both text_extra=,extra");
  std::string m3 = Add("model=QM235B segment=A reply=auth");
  std::string m4 = Add("model=RMT539 segment=B");
  a.Send(std::string("Scan"), kBcastA, 9010);
  auto got = a.Collect();
  std::map<std::string, std::string> want = {
      {m1, "\x02RMT235" + Show(m1)["ip"] + ":" + m1 + "\x03"},
      {m2, "\x02" "A5411+" + Show(m2)["ip"] + ":" + m2 + ",extra\x03"}};
  ASSERT_EQ(got.size(), 2u);
  std::set<std::string> texts;
  for (auto& g : got) {
    std::string t(g.data.begin(), g.data.end());
    texts.insert(t);
    // sent from the device's own address
    EXPECT_TRUE(g.from == Ip(m1) || g.from == Ip(m2)) << test::FormatAddress(g.from);
  }
  EXPECT_EQ(texts, (std::set<std::string>{want[m1], want[m2]}));
  // a probe to another segment's broadcast, or on the other segment, is not heard
  b.Send(std::string("Scan"), kBcastB, 9010);
  got = b.Collect();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::string(got[0].data.begin(), got[0].data.end()), "\x02RMT539" + Show(m4)["ip"] + ":" + m4 + "\x03");
  (void)m3;
}

TEST_F(DevSim, AuthenticatedDiscoverGetsTheFullAnnounceBoundToTheNonce) {
  std::string mac = Add(
      "model=KV2R mac=00-1A-2B-3C-4D-5E hwid=00112233445566778899aabbccddeeff ip=10.72.3.4 dhcp=1 "
      "static=10.72.5.6 mask=255.255.0.0 gw=10.72.0.9 serial=SER-12345 text=\"hello world\" word112=4660 "
      "segment=B");
  Nonce n;
  b.Send(Request(n, 0xC101, {}), kLimited, 59300);
  auto got = b.Collect();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].from, 0x0A480304u);
  Reply r;
  ASSERT_TRUE(Verify(n, got[0].data, &r));
  EXPECT_EQ(r.type, 0x5501);
  ASSERT_EQ(r.payload.size(), 114u);
  const Bytes& p = r.payload;
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 16), Unhex("00112233445566778899aabbccddeeff"));
  EXPECT_EQ(Be32(&p[16]), 0x0A480304u);
  EXPECT_EQ(MacText(&p[20]), "00-1A-2B-3C-4D-5E");
  EXPECT_EQ(p[26], 1);
  EXPECT_EQ(Be32(&p[27]), 0x0A480506u);
  EXPECT_EQ(Be32(&p[31]), 0xFFFF0000u);
  EXPECT_EQ(Be32(&p[35]), 0x0A480009u);
  EXPECT_EQ(std::string(p.begin() + 39, p.begin() + 47), std::string("KV2R\0\0\0\0", 8));
  EXPECT_EQ(Field(p, 47, 24), "SER-12345");
  EXPECT_EQ(Field(p, 71, 40), "hello world");
  EXPECT_EQ(p[112] | (p[113] << 8), 4660);
  // the same device does not answer on the other segment
  a.Send(Request(n, 0xC101, {}), kLimited, 59300);
  EXPECT_TRUE(a.Collect().empty());
  (void)mac;
}

TEST_F(DevSim, EachDeviceAnswersOnlyTheReplyKindsItIsGiven) {
  std::string text = Add("model=RMT235 reply=text");
  std::string auth = Add("model=RMT539 reply=auth");
  std::string both = Add("model=Q99VBR reply=both");
  Add("model=QM99VB reply=none");
  Add("model=A5261+ mute=all");
  Nonce n;
  a.Send(std::string("Scan"), kBcastA, 9010);
  a.Send(Request(n, 0xC101, {}), kLimited, 59300);
  auto got = a.Collect();
  std::set<std::string> textFrom, authFrom;
  for (auto& g : got) {
    Reply r;
    if (g.data.size() > 2 && g.data.front() == 0x02 && g.data.back() == 0x03) {
      std::string t(g.data.begin(), g.data.end());
      textFrom.insert(t.substr(t.find(':') + 1, 17));
    } else if (Verify(n, g.data, &r)) {
      authFrom.insert(MacText(r.payload.data() + 20));
    } else {
      ADD_FAILURE() << "unexpected datagram of " << g.data.size() << " bytes";
    }
  }
  EXPECT_EQ(textFrom, (std::set<std::string>{text, both}));
  EXPECT_EQ(authFrom, (std::set<std::string>{auth, both}));
}

TEST_F(DevSim, DigestAndLengthFaultsBreakExactlyTheirRule) {
  std::string bad = Add("model=RMT235 reply=auth digest=bad");
  std::string old = Add("model=RMT539 reply=auth digest=oldnonce");
  std::string plus = Add("model=A5411+ reply=auth lenoff=1");
  std::string minus = Add("model=A5261+ reply=auth lenoff=-1");
  std::string unknown = Add("model=ZZ99 reply=both");
  std::string unlisted = Add("model=QMA271 reply=both");
  std::string shortish = Add("model=RMT235 reply=auth announce_len=60");
  Nonce first, second;
  a.Send(Request(first, 0xC101, {}), kLimited, 59300);
  auto got1 = a.Collect();
  a.Send(Request(second, 0xC101, {}), kLimited, 59300);
  auto got2 = a.Collect();
  ASSERT_EQ(got1.size(), 7u);
  ASSERT_EQ(got2.size(), 7u);
  // only the unknown and unlisted models and the short announce authenticate;
  // codes go out as given
  auto ok2 = Verified(second, got2);
  EXPECT_EQ(AnnouncedMacs(ok2), (std::set<std::string>{unknown, unlisted, shortish}));
  std::set<std::string> codes;
  for (auto& r : ok2) {
    if (r.payload.size() == 60) continue;
    EXPECT_EQ(r.payload.size(), 114u);
    codes.insert(Field(r.payload, 39, 8));
  }
  EXPECT_EQ(codes, (std::set<std::string>{"ZZ99", "QMA271"}));
  // the old-nonce device signed its second reply with the first request's nonce
  EXPECT_EQ(AnnouncedMacs(Verified(first, got2)), (std::set<std::string>{old}));
  size_t lenPlus = 0, lenMinus = 0, badDigest = 0;
  for (auto& g : got2) {
    const Bytes& d = g.data;
    size_t field = d[6] | (d[7] << 8);
    if (field == d.size() - 28 + 1) ++lenPlus;
    if (field + 1 == d.size() - 28) ++lenMinus;
    if (field == d.size() - 28 && d.size() == 142) {
      Reply r;
      if (!Verify(first, d, &r) && !Verify(second, d, &r)) ++badDigest;
    }
  }
  EXPECT_EQ(lenPlus, 1u);
  EXPECT_EQ(lenMinus, 1u);
  EXPECT_EQ(badDigest, 1u);
  (void)bad, (void)plus, (void)minus;
}

TEST_F(DevSim, AThousandDevicesAnswerOneScanInOneBurst) {
  std::string why;
  ASSERT_TRUE(sim.Command("add count=500 model=RMT235 segment=A", nullptr, &why)) << why;
  ASSERT_TRUE(sim.Command("add count=500 model=KV1R segment=A", nullptr, &why)) << why;
  Nonce n;
  uint32_t t0 = plat::TickCount();
  a.Send(std::string("Scan"), kBcastA, 9010);
  a.Send(Request(n, 0xC101, {}), kLimited, 59300);
  auto got = a.Collect(500, 10000);
  uint32_t ms = plat::TicksSince(t0);
  size_t text = 0;
  std::set<uint32_t> from;
  for (auto& g : got) {
    if (g.data.front() == 0x02) ++text;
    from.insert(g.from);
  }
  EXPECT_EQ(text, 1000u);
  EXPECT_EQ(AnnouncedMacs(Verified(n, got)).size(), 1000u);
  EXPECT_EQ(from.size(), 1000u);  // each from its own address
  RecordProperty("burst_ms", static_cast<int>(ms));
}

TEST_F(DevSim, RepeatedRepliesAndAJunkFloodDuringTheScan) {
  std::string mac = Add("model=RMT235 announce_repeat=3");
  ASSERT_TRUE(sim.Flood("count=200 size=300"));
  Nonce n;
  a.Send(Request(n, 0xC101, {}), kLimited, 59300);
  auto got = a.Collect();
  auto ok = Verified(n, got);
  EXPECT_EQ(ok.size(), 3u);
  EXPECT_EQ(got.size(), 203u);
  // the flood was one-shot: the next scan is clean
  a.Send(Request(n, 0xC101, {}), kLimited, 59300);
  EXPECT_EQ(a.Collect().size(), 3u);
  // a steady flood lasts its duration
  ASSERT_TRUE(sim.Flood("count=300 size=64 duration=1500"));
  a.Send(std::string("Scan"), kBcastA, 9010);
  got = a.Collect(300, 5000);
  ASSERT_GE(got.size(), 300u);
  EXPECT_GE(got.back().at, 1200u);
  (void)mac;
}

TEST_F(DevSim, WinksAreRecordedWithWhatIdentifiesTheDevice) {
  std::string mac = Add("model=KV1R segment=both");
  std::string other = Add("model=KV2R segment=A");
  Bytes hw = Hwid(mac);
  // legacy: a unicast to the device's address
  a.Send(std::string("Wink"), Ip(mac), 9010);
  // authenticated: a broadcast from each interface, and one with a broken digest
  Nonce n;
  Bytes w = Request(n, 0xC104, hw);
  ASSERT_EQ(w.size(), 56u);
  a.Send(w, kLimited, 9010);
  b.Send(w, kLimited, 9010);
  Bytes broken = w;
  broken.back() ^= 1;
  a.Send(broken, kLimited, 9010);
  plat::SleepMs(300);
  std::vector<std::map<std::string, std::string>> winks;
  for (auto& l : sim.Winks()) winks.push_back(test::ParseFields(l));
  ASSERT_EQ(winks.size(), 4u);
  EXPECT_EQ(winks[0]["kind"], "text");
  EXPECT_EQ(winks[0]["mac"], mac);
  EXPECT_EQ(winks[0]["dst"], Show(mac)["ip"]);
  std::multiset<std::string> segs;
  size_t invalid = 0;
  for (size_t i = 1; i < winks.size(); ++i) {
    auto& k = winks[i];
    EXPECT_EQ(k["kind"], "auth");
    EXPECT_EQ(k["hwid"], Show(mac)["hwid"]);
    EXPECT_EQ(k["dst"], "255.255.255.255");
    if (k["valid"] == "0") {
      ++invalid;
      EXPECT_EQ(k["mac"], "-");  // no device takes a wink that does not authenticate
      continue;
    }
    EXPECT_EQ(k["mac"], mac);
    segs.insert(k["seg"]);
  }
  EXPECT_EQ(invalid, 1u);
  EXPECT_EQ(segs, (std::multiset<std::string>{"A", "B"}));
  EXPECT_EQ(Show(mac)["wink_count"], "3");
  EXPECT_EQ(Show(other)["wink_count"], "0");
  // the log keeps every datagram as received
  auto logged = sim.LogOfKind("wink");
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0]["len"], "56");
  EXPECT_EQ(Unhex(logged[0]["hex"]), w);
}

// ---- KV-xR ----

TEST_F(DevSim, KvDiscoverOn9010GivesTheOperationModeReportAndTheAnnounce) {
  std::string kv = Add("model=KV3R opmode=7 segment=A");
  Add("model=RMT235 segment=A");  // first family: silent on this port
  Bytes hw = Hwid(kv);
  Nonce n;
  a.Send(Request(n, 0xC101, {}), kBcastA, 9010);
  auto r = Verified(n, a.Collect());
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].type, 0x5504);
  Bytes items = {0xA0, 16};
  items.insert(items.end(), hw.begin(), hw.end());
  items.insert(items.end(), {0xA1, 1, 7});
  EXPECT_EQ(r[0].payload, items);
  EXPECT_EQ(r[1].type, 0x5501);
  EXPECT_EQ(Field(r[1].payload, 39, 8), "KV3R");
  EXPECT_EQ(Bytes(r[1].payload.begin(), r[1].payload.begin() + 16), hw);

  // faults: only an 0xA1 item, the report after the announce, repeated announces, KV4R
  ASSERT_TRUE(sim.Set(kv, "opmode_items=mode opmode_order=after announce_repeat=2"));
  Add("model=KV4R segment=A");
  Nonce m;
  a.Send(Request(m, 0xC101, {}), kLimited, 9010);
  r = Verified(m, a.Collect());
  ASSERT_EQ(r.size(), 5u);
  std::multiset<std::string> codes;
  std::vector<Bytes> reports;
  for (auto& x : r) {
    if (x.type == 0x5501) codes.insert(Field(x.payload, 39, 8));
    if (x.type == 0x5504) reports.push_back(x.payload);
  }
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(reports[0] == (Bytes{0xA1, 1, 7}) || reports[1] == (Bytes{0xA1, 1, 7}));
  EXPECT_EQ(codes, (std::multiset<std::string>{"KV3R", "KV3R", "KV4R"}));
}

TEST_F(DevSim, VersionQueryAndItsFaults) {
  std::string good = Add("model=KV1R version=1.12");
  std::string space = Add("model=KV2R version=2.5 version_format=space");
  std::string slow = Add("model=KV3R version=3.1 version_delay=600");
  std::string mute = Add("model=KV1R mute=version");
  std::string garbage = Add("model=KV1R version_format=garbage");
  auto ask = [&](const std::string& mac) {
    a.Send(std::string("?Version"), Ip(mac), 9010);
    return a.Collect(800);
  };
  auto got = ask(good);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::string(got[0].data.begin(), got[0].data.end()), "\x02Version:1.12");
  EXPECT_EQ(got[0].from, Ip(good));
  got = ask(space);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::string(got[0].data.begin(), got[0].data.end()), "\x02Version: 2.5");
  got = ask(slow);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_GE(got[0].at, 550u);
  EXPECT_TRUE(ask(mute).empty());
  got = ask(garbage);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::string(got[0].data.begin(), got[0].data.end()), "\x02Version:x1.12");
}

TEST_F(DevSim, TwoHundredFiftyKvDevicesOverTwoSegments) {
  std::string why;
  ASSERT_TRUE(sim.Command("add count=125 model=KV1R segment=A", nullptr, &why)) << why;
  ASSERT_TRUE(sim.Command("add count=125 model=KV2R segment=B", nullptr, &why)) << why;
  size_t versions = 0;
  for (Pc* pc : {&a, &b}) {
    Nonce n;
    pc->Send(Request(n, 0xC101, {}), pc == &a ? kBcastA : kBcastB, 9010);
    auto r = Verified(n, pc->Collect(500, 8000));
    auto macs = AnnouncedMacs(r);
    ASSERT_EQ(macs.size(), 125u);
    EXPECT_EQ(r.size(), 250u);  // with the reports
    // every device answers its version query
    std::vector<uint32_t> addrs;
    for (auto& x : r)
      if (x.type == 0x5501) addrs.push_back(Be32(&x.payload[16]));
    for (uint32_t ip : addrs) pc->Send(std::string("?Version"), ip, 9010);
    for (auto& g : pc->Collect(500, 8000))
      if (std::string(g.data.begin(), g.data.end()) == "\x02Version:1.12") ++versions;
  }
  EXPECT_EQ(versions, 250u);
}

// ---- set-config and reboot ----

class DevSimConfig : public DevSim {
 protected:
  // Payload of a set-config as the library builds it.
  Bytes SetConfig(const std::string& mac, bool dhcp, uint8_t mode, uint32_t ip, uint32_t mask, uint32_t gw) {
    auto s = Show(mac);
    Bytes p(108, 0);
    Bytes hw = Unhex(s["hwid"]);
    std::copy(hw.begin(), hw.end(), p.begin());
    uint8_t m[6];
    for (int i = 0; i < 6; ++i) m[i] = static_cast<uint8_t>(std::stoi(mac.substr(3 * i, 2), nullptr, 16));
    std::copy(m, m + 6, p.begin() + 16);
    p[22] = dhcp ? 1 : 0;
    p[23] = mode;
    for (int i = 0; i < 4; ++i) {
      p[24 + i] = static_cast<uint8_t>(ip >> (24 - 8 * i));
      p[28 + i] = static_cast<uint8_t>(mask >> (24 - 8 * i));
      p[32 + i] = static_cast<uint8_t>(gw >> (24 - 8 * i));
    }
    std::memcpy(&p[36], s["model"].data(), std::min<size_t>(8, s["model"].size()));
    std::memcpy(&p[44], s["serial"].data(), std::min<size_t>(24, s["serial"].size()));
    std::memcpy(&p[68], s["text"].data(), std::min<size_t>(40, s["text"].size()));
    return p;
  }
  std::vector<Reply> Exchange(const Nonce& n, uint16_t cmd, const Bytes& payload, uint32_t quiet = 400) {
    a.Send(Request(n, cmd, payload), kLimited, 9010);
    return Verified(n, a.Collect(quiet));
  }
  Bytes RebootPayload(const Bytes& hw, const std::string& response) {
    Bytes p(40, 0);
    std::copy(hw.begin(), hw.end(), p.begin());
    std::memcpy(&p[16], response.data(), std::min<size_t>(24, response.size()));
    return p;
  }
  // Asks for the challenge; returns its decoded bytes (empty on failure).
  // quiet: how long the collection waits for more after it.
  Bytes Challenge(const Nonce& n, const Bytes& hw, std::string* text = nullptr, uint32_t quiet = 400) {
    auto r = Exchange(n, 0xC103, RebootPayload(hw, ""), quiet);
    if (r.size() != 1 || r[0].type != 0x5503 || r[0].payload.size() != 40) return {};
    std::string t = Field(r[0].payload, 16, 24);
    if (text) *text = t;
    Bytes raw;
    if (!UnB64(t, &raw)) return {};
    return raw;
  }
  // The response the library sends: the challenge inverted, in Base64.
  void Respond(const Nonce& n, const Bytes& hw, Bytes challenge) {
    for (auto& x : challenge) x = static_cast<uint8_t>(~x);
    a.Send(Request(n, 0xC103, RebootPayload(hw, B64(challenge.data(), challenge.size()))), kLimited, 9010);
  }
  // The acknowledgement of one set-config: 1 accepted, 0 refused, -1 none.
  int Ack(const Bytes& payload) {
    Nonce n;
    auto r = Exchange(n, 0xC102, payload, 300);
    return r.size() == 1 && r[0].type == 0x5502 && r[0].payload.size() == 1 ? r[0].payload[0] : -1;
  }
  bool WaitState(const std::string& mac, const std::string& state, uint32_t ms) {
    uint32_t start = plat::TickCount();
    while (plat::TicksSince(start) < ms) {
      if (Show(mac)["state"] == state) return true;
      plat::SleepMs(50);
    }
    return false;
  }
  // The announce of the device after a fresh discover, if it answers.
  bool Announced(const Bytes& hw, Bytes* payload) {
    Nonce n;
    a.Send(Request(n, 0xC101, {}), kLimited, 9010);
    for (auto& r : Verified(n, a.Collect()))
      if (r.type == 0x5501 && Bytes(r.payload.begin(), r.payload.begin() + 16) == hw) {
        *payload = r.payload;
        return true;
      }
    return false;
  }
};

TEST_F(DevSimConfig, StaticThenDhcpPersistAcrossCorrectlyAnsweredReboots) {
  std::string mac = Add("model=KV1R segment=A ip=10.71.1.10 reboot_ms=700 opmode=2");
  Bytes hw = Hwid(mac);
  uint32_t newIp = 0x0A470214u;  // 10.71.2.20
  Nonce n;
  auto ack = Exchange(n, 0xC102, SetConfig(mac, false, 5, newIp, 0xFFFFF000u, 0x0A470001u));
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0].type, 0x5502);
  EXPECT_EQ(ack[0].payload, Bytes{1});
  auto s = Show(mac);
  EXPECT_EQ(s["pending"], "1");
  EXPECT_EQ(s["pending_static"], "10.71.2.20");
  EXPECT_EQ(s["ip"], "10.71.1.10");  // nothing moves before the restart
  EXPECT_EQ(s["opmode"], "5");      // the operation mode applies at once
  Nonce q;
  auto now = Exchange(q, 0xC101, {});
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[0].type, 0x5504);
  EXPECT_EQ(now[0].payload.back(), 5);
  EXPECT_EQ(Be32(&now[1].payload[16]), 0x0A47010Au);

  // a wrong response does not reboot
  Nonce r1;
  Bytes ch = Challenge(r1, hw);
  ASSERT_EQ(ch.size(), 16u);
  a.Send(Request(r1, 0xC103, RebootPayload(hw, B64(ch.data(), 16))), kLimited, 9010);  // not inverted
  plat::SleepMs(200);
  s = Show(mac);
  EXPECT_EQ(s["state"], "online");
  EXPECT_EQ(s["last_response"], "wrong");
  EXPECT_EQ(s["wrong_responses"], "1");

  // the right one: silent for reboot_ms, then back at the new address
  Nonce r2;
  ch = Challenge(r2, hw);
  ASSERT_EQ(ch.size(), 16u);
  for (auto& x : ch) x = static_cast<uint8_t>(~x);
  uint32_t t0 = plat::TickCount();
  a.Send(Request(r2, 0xC103, RebootPayload(hw, B64(ch.data(), 16))), kLimited, 9010);
  ASSERT_TRUE(WaitState(mac, "rebooting", 1000));
  Bytes ann;
  EXPECT_FALSE(Announced(hw, &ann));
  ASSERT_TRUE(WaitState(mac, "online", 3000));
  EXPECT_GE(plat::TicksSince(t0), 650u);
  ASSERT_TRUE(Announced(hw, &ann));
  EXPECT_EQ(Be32(&ann[16]), newIp);
  EXPECT_EQ(ann[26], 0);
  EXPECT_EQ(Be32(&ann[27]), newIp);
  EXPECT_EQ(Be32(&ann[35]), 0x0A470001u);
  // reachable by unicast at the new address
  a.Send(std::string("?Version"), newIp, 9010);
  EXPECT_EQ(a.Collect().size(), 1u);

  // to DHCP: the simulator leases an address of its own
  Nonce n2;
  ack = Exchange(n2, 0xC102, SetConfig(mac, true, 5, newIp, 0xFFFFF000u, 0x0A470001u));
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0].payload, Bytes{1});
  ASSERT_TRUE(sim.Command("reboot " + mac + " 100"));
  ASSERT_TRUE(WaitState(mac, "online", 2000));
  ASSERT_TRUE(Announced(hw, &ann));
  uint32_t leased = Be32(&ann[16]);
  EXPECT_EQ(ann[26], 1);
  EXPECT_NE(leased, newIp);
  EXPECT_EQ(leased & 0xFFFFF800u, 0x0A470800u);  // 10.71.8.x and up
  a.Send(std::string("?Version"), leased, 9010);
  EXPECT_EQ(a.Collect().size(), 1u);
  EXPECT_EQ(Show(mac)["boots"], "2");
}

TEST_F(DevSimConfig, AcknowledgementAndChallengeFaults) {
  std::string refuse = Add("model=KV2R ack=refuse");
  std::string none = Add("model=KV2R ack=none challenge=none");
  std::string malformed = Add("model=KV3R challenge=malformed");
  std::string zeros = Add("model=KV3R challenge=zeros");
  std::string late = Add("model=KV1R kv_delay=700");

  Nonce n;
  auto ack = Exchange(n, 0xC102, SetConfig(refuse, false, 0, 0x0A470505u, 0xFFFFF000u, 0));
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0].payload, Bytes{0});
  EXPECT_EQ(Show(refuse)["pending"], "0");

  // settings meant for another unit (its MAC differs) are refused too
  Bytes p = SetConfig(malformed, false, 0, 0x0A470506u, 0xFFFFF000u, 0);
  p[21] ^= 0xFF;
  ack = Exchange(n, 0xC102, p);
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0].payload, Bytes{0});

  // no acknowledgement, no challenge: silence, but the request was counted
  EXPECT_TRUE(Exchange(n, 0xC102, SetConfig(none, false, 0, 0x0A470507u, 0xFFFFF000u, 0)).empty());
  EXPECT_EQ(Show(none)["setcfg_count"], "1");
  EXPECT_EQ(Show(none)["pending"], "1");
  Nonce r;
  EXPECT_TRUE(Exchange(r, 0xC103, RebootPayload(Hwid(none), "")).empty());
  EXPECT_EQ(Show(none)["reboot_requests"], "1");

  std::string text;
  EXPECT_TRUE(Challenge(r, Hwid(malformed), &text).empty());
  EXPECT_FALSE(text.empty());
  Bytes raw;
  EXPECT_FALSE(UnB64(text, &raw));

  // sixteen zero bytes: the answer is sixteen 0xFF bytes
  Nonce z;
  Bytes ch = Challenge(z, Hwid(zeros), &text);
  EXPECT_EQ(text, "AAAAAAAAAAAAAAAAAAAAAA==");
  EXPECT_EQ(ch, Bytes(16, 0));
  Bytes ff(16, 0xFF);
  a.Send(Request(z, 0xC103, RebootPayload(Hwid(zeros), B64(ff.data(), 16))), kLimited, 9010);
  EXPECT_TRUE(WaitState(zeros, "rebooting", 1000));

  // a datagram beyond the PC's 2048-byte buffer before the ack and the challenge
  std::string big = Add("model=KV1R oversize=ack,challenge");
  a.errors = 0;
  ack = Exchange(n, 0xC102, SetConfig(big, false, 0, 0x0A470508u, 0xFFFFF000u, 0));
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0].payload, Bytes{1});
  EXPECT_EQ(a.errors, 1u);
  EXPECT_EQ(Challenge(r, Hwid(big)).size(), 16u);
  EXPECT_EQ(a.errors, 2u);

  // late rediscovery: the announce comes only after kv_delay
  Nonce d;
  a.Send(Request(d, 0xC101, {}), Ip(late), 9010);
  auto got = a.Collect(900);
  ASSERT_FALSE(got.empty());
  EXPECT_GE(got.front().at, 650u);
}

// ---- what a real device checks (each case plays a faulty client) ----

TEST_F(DevSimConfig, ARebootedDeviceStillAnswersDuringItsDelay) {
  // A client that takes the first announce after its response for the
  // restarted device reads the old settings: the unit is still going down.
  std::string mac = Add("model=KV1R segment=A ip=10.71.1.30 reboot_ms=600 reboot_delay=1200");
  Bytes hw = Hwid(mac);
  EXPECT_EQ(Ack(SetConfig(mac, false, 0, 0x0A470231u, 0xFFFFF000u, 0x0A470001u)), 1);  // to 10.71.2.49
  Nonce r;
  Bytes ch = Challenge(r, hw, nullptr, 100);
  ASSERT_EQ(ch.size(), 16u);
  uint32_t t0 = plat::TickCount();
  Respond(r, hw, ch);
  Bytes ann;
  ASSERT_TRUE(Announced(hw, &ann));
  EXPECT_EQ(Be32(&ann[16]), 0x0A47011Eu);  // still the old address
  EXPECT_EQ(Be32(&ann[27]), 0x0A47011Eu);
  auto s = Show(mac);
  EXPECT_LT(plat::TicksSince(t0), 1150u) << "the check came too late to mean anything";
  EXPECT_EQ(s["state"], "going-down");
  EXPECT_EQ(s["reboot_count"], "1");
  EXPECT_EQ(s["pending"], "1");
  // then silent, and back with the new settings
  ASSERT_TRUE(WaitState(mac, "rebooting", 2000));
  EXPECT_GE(plat::TicksSince(t0), 1150u);
  EXPECT_FALSE(Announced(hw, &ann));
  ASSERT_TRUE(WaitState(mac, "online", 2000));
  ASSERT_TRUE(Announced(hw, &ann));
  EXPECT_EQ(Be32(&ann[16]), 0x0A470231u);
  EXPECT_EQ(Show(mac)["boots"], "1");
  // a power cycle from the control port knows no delay
  ASSERT_TRUE(sim.Command("reboot " + mac + " 300"));
  EXPECT_EQ(Show(mac)["state"], "rebooting");
}

TEST_F(DevSimConfig, AChallengeAnsweredTooLateIsRefused) {
  std::string mac = Add("model=KV2R challenge_ttl=400");
  EXPECT_EQ(Show(Add("model=KV1R"))["challenge_ttl"], "2000");  // the default
  Bytes hw = Hwid(mac);
  // a client that answers after the challenge has expired
  Nonce late;
  Bytes ch = Challenge(late, hw, nullptr, 100);
  ASSERT_EQ(ch.size(), 16u);
  plat::SleepMs(600);
  Respond(late, hw, ch);
  plat::SleepMs(200);
  auto s = Show(mac);
  EXPECT_EQ(s["last_response"], "expired");
  EXPECT_EQ(s["wrong_responses"], "1");
  EXPECT_EQ(s["reboot_count"], "0");
  EXPECT_EQ(s["state"], "online");
  // the expired challenge is gone: answering it again does not help either
  Respond(late, hw, ch);
  plat::SleepMs(200);
  EXPECT_EQ(Show(mac)["last_response"], "no-challenge");
  // the same answer in time reboots the unit
  Nonce quick;
  ch = Challenge(quick, hw, nullptr, 100);
  ASSERT_EQ(ch.size(), 16u);
  Respond(quick, hw, ch);
  EXPECT_TRUE(WaitState(mac, "rebooting", 1000));
  EXPECT_EQ(Show(mac)["last_response"], "ok");
}

TEST_F(DevSimConfig, ASetConfigMustCarryTheDevicesOwnModelSerialAndText) {
  std::string mac = Add("model=KV3R serial=SN-0042 text=\"rack 3, room 12, left of the door\" opmode=1");
  const Bytes good = SetConfig(mac, false, 6, 0x0A470640u, 0xFFFFF000u, 0x0A470001u);
  struct Case {
    const char* fault;
    size_t at;
    std::string bytes;
    const char* verdict;
  };
  const Case cases[] = {
      {"another model", 36, "KV1R", "wrong-model"},
      {"model with a blank", 40, " ", "wrong-model"},
      {"another serial", 44, "SN-0043", "wrong-serial"},
      {"empty serial", 44, std::string(24, '\0'), "wrong-serial"},
      {"text left empty", 68, std::string(40, '\0'), "wrong-text"},
      // a client building the request from the 40-byte serial of its scan
      // record has only 16 bytes of the text
      {"text cut at 16 bytes", 84, std::string(24, '\0'), "wrong-text"},
      {"bytes after the text's end", 107, "x", "wrong-text"},
      {"DHCP byte 2", 22, "\x02", "bad-dhcp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Bytes p = good;
    std::copy(c.bytes.begin(), c.bytes.end(), p.begin() + static_cast<long>(c.at));
    EXPECT_EQ(Ack(p), 0);
    auto s = Show(mac);
    EXPECT_EQ(s["last_setcfg_result"], c.verdict);
    EXPECT_EQ(s["pending"], "0");
    EXPECT_EQ(s["opmode"], "1");
  }
  // the fields of the last one (refused for its DHCP byte) as received
  auto s = Show(mac);
  EXPECT_EQ(s["setcfg_model"], "KV3R");
  EXPECT_EQ(s["setcfg_serial"], "SN-0042");
  EXPECT_EQ(s["setcfg_text"], "rack 3, room 12, left of the door");
  // what was received is recorded as text a test can compare
  Bytes odd = good;
  std::memcpy(&odd[44], "S\nN\\1", 5);
  EXPECT_EQ(Ack(odd), 0);
  EXPECT_EQ(Show(mac)["setcfg_serial"], "S\\x0AN\\x5C142");
  // the request the library builds is taken
  EXPECT_EQ(Ack(good), 1);
  s = Show(mac);
  EXPECT_EQ(s["last_setcfg_result"], "accepted");
  EXPECT_EQ(s["setcfg_model"], "KV3R");
  EXPECT_EQ(s["setcfg_serial"], "SN-0042");
  EXPECT_EQ(s["setcfg_text"], "rack 3, room 12, left of the door");
  EXPECT_EQ(s["pending_static"], "10.71.6.64");
  EXPECT_EQ(s["opmode"], "6");
  EXPECT_EQ(s["setcfg_count"], std::to_string(std::size(cases) + 2));
}

TEST_F(DevSim, ADirectedBroadcastOfAnotherSubnetIsNotAnswered) {
  // The segment is a /20; these two are configured for other subnets, so
  // 10.71.15.255 is not their broadcast. A client that finds devices by the
  // directed broadcast of its own interface does not find them.
  std::string wide = Add("model=KV1R ip=10.71.1.10 mask=255.255.0.0");
  std::string narrow = Add("model=KV2R ip=10.71.2.10 mask=255.255.255.0");
  std::string fits = Add("model=KV3R ip=10.71.3.10");
  std::string text = Add("model=RMT235 ip=10.71.4.10 mask=255.255.255.0 reply=text");
  Nonce n;
  a.Send(Request(n, 0xC101, {}), kBcastA, 9010);
  EXPECT_EQ(AnnouncedMacs(Verified(n, a.Collect())), (std::set<std::string>{fits}));
  a.Send(std::string("Scan"), kBcastA, 9010);
  auto got = a.Collect();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::string(got[0].data.begin(), got[0].data.end()).find(fits), 16u);
  a.Send(std::string("?Version"), kBcastA, 9010);
  got = a.Collect();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].from, 0x0A47030Au);
  // the limited broadcast reaches every one of them, and so does each address
  Nonce m;
  a.Send(Request(m, 0xC101, {}), kLimited, 9010);
  EXPECT_EQ(AnnouncedMacs(Verified(m, a.Collect())), (std::set<std::string>{wide, narrow, fits}));
  a.Send(std::string("Scan"), kLimited, 9010);
  EXPECT_EQ(a.Collect().size(), 4u);
  a.Send(std::string("?Version"), 0x0A47020Au, 9010);
  got = a.Collect();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].from, 0x0A47020Au);
  (void)text;
}

TEST_F(DevSim, TheOversizeDatagramHasTheSizeItIsGiven) {
  // One byte beyond the program's 1024-byte buffer fails its receive; a
  // client with a larger buffer would not notice it.
  std::string mac = Add("model=RMT235 reply=text oversize=text oversize_size=1025");
  EXPECT_EQ(Show(Add("model=RMT539 reply=none"))["oversize_size"], "3000");  // the default
  a.errors = 0;
  a.Send(std::string("Scan"), kLimited, 9010);
  auto got = a.Collect(500, 4000, 1024);
  EXPECT_EQ(a.errors, 1u);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data.front(), 0x02);
  a.errors = 0;
  a.Send(std::string("Scan"), kLimited, 9010);
  got = a.Collect(500, 4000, 2048);
  EXPECT_EQ(a.errors, 0u);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].data.size(), 1025u);
  // exactly 1024 bytes fit
  ASSERT_TRUE(sim.Set(mac, "oversize_size=1024"));
  a.Send(std::string("Scan"), kLimited, 9010);
  got = a.Collect(500, 4000, 1024);
  EXPECT_EQ(a.errors, 0u);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].data.size(), 1024u);
  std::string why;
  EXPECT_FALSE(sim.Set(mac, "oversize_size=0", &why));
  EXPECT_FALSE(sim.Set(mac, "oversize_size=65508", &why));
}

// ---- control port ----

TEST_F(DevSim, ControlCommandsCheckTheirInputAndChangeAllOrNothing) {
  std::string why;
  std::string mac = Add("model=KV1R ip=10.71.1.50");
  EXPECT_FALSE(sim.Command("add model=KV1R mac=" + mac, nullptr, &why));
  EXPECT_NE(why.find("exists"), std::string::npos) << why;
  EXPECT_FALSE(sim.Command("add model=KV1R ip=300.1.1.1", nullptr, &why));
  EXPECT_FALSE(sim.Command("add model=KV1R colour=red", nullptr, &why));
  EXPECT_NE(why.find("colour"), std::string::npos);
  EXPECT_FALSE(sim.Command("add count=3 model=KV1R mac=00-00-00-00-00-01", nullptr, &why));
  EXPECT_FALSE(sim.Command("frobnicate", nullptr, &why));
  EXPECT_FALSE(sim.Command("show 00-00-00-00-00-99", nullptr, &why));
  // a set with one bad value changes nothing
  EXPECT_FALSE(sim.Set(mac, "ip=10.71.1.51 digest=maybe", &why));
  EXPECT_EQ(Show(mac)["ip"], "10.71.1.50");
  EXPECT_EQ(Show(mac)["digest"], "good");
  // a line beyond the limit is refused, and the connection stays usable
  EXPECT_FALSE(sim.Command("set " + mac + " text=" + std::string(9000, 'x'), nullptr, &why));
  SimClient again;
  ASSERT_TRUE(again.Connect());
  EXPECT_EQ(again.Show(mac)["model"], "KV1R");
  // set moves the device: it answers at its new address at once
  ASSERT_TRUE(sim.Set(mac, "ip=10.71.1.52"));
  a.Send(std::string("?Version"), 0x0A470134u, 9010);
  EXPECT_EQ(a.Collect().size(), 1u);
  std::vector<std::string> lines;
  ASSERT_TRUE(sim.Command("counts", &lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(test::ParseFields(lines[0])["devices"], "1");
}

}  // namespace
}  // namespace qs
