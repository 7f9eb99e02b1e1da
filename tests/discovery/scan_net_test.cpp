// The program's datagram scan and wink against the simulated devices of the
// test network: PC interfaces qsa (segment A) and qsb (segment B) up, qsc down.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "discovery/device_manager.h"
#include "discovery/wink.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "runtime/bytes.h"
#include "tests/support/sim_client.h"

namespace qs::disc {
namespace {

using test::SimClient;
using test::TestNet;

// The library is not part of these tests: its scan never starts.
int32_t KVXR_CALL NoMode(int32_t) { return KVXR_OK; }
int32_t KVXR_CALL NoScan(int32_t, KVxR_DeviceCallback, KVxR_DoneCallback) { return KVXR_NO_WINDOW; }
int32_t KVXR_CALL NoSerial(int32_t, KVxR_WCHAR*, uint32_t) { return KVXR_UNKNOWN_DEVICE; }
int32_t KVXR_CALL NoId(int32_t, uint8_t*) { return KVXR_UNKNOWN_DEVICE; }
const LibraryApi kNoLibrary = {NoMode, NoScan, NoSerial, NoId};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (char& c : s)
    if (c == '-') c = ':';
  return s;
}

class CountingSink : public IDiscoverySink {
 public:
  virtual ~CountingSink() = default;
  int32_t OnDevice(IDeviceInfo* d) override {
    uint8_t m[6];
    d->GetMac(m);
    ++calls[MacOf(m)];
    ++total;
    return 0;
  }
  static std::string MacOf(const uint8_t m[6]) { return Lower(bytes::FormatMac(m, ':')); }
  std::map<std::string, int> calls;
  int total = 0;
};

using Sink = RCObject2<CountingSink>;
using Manager = RCObject2<DeviceManager>;

// The links of a fresh test network take a moment to carry traffic: probe
// until the simulator has heard both segments.
bool WarmUp(SimClient& sim) {
  static bool done = false;
  if (done) return true;
  plat::UdpSocket a, b;
  if (!a.Open() || !a.Bind(TestNet::PcA(), 0) || !a.SetBroadcast(true)) return false;
  if (!b.Open() || !b.Bind(TestNet::PcB(), 0) || !b.SetBroadcast(true)) return false;
  const uint32_t start = plat::TickCount();
  while (plat::TicksSince(start) < 8000) {
    a.SendTo("warm", 4, TestNet::Sim(), 9010);
    b.SendTo("warm", 4, 0x0A480FFFu, 9010);
    std::set<std::string> segs;
    for (const auto& f : sim.LogOfKind("junk")) segs.insert(f.at("seg"));
    if (segs.count("A") && segs.count("B")) {
      done = true;
      return sim.Command("clearlog");
    }
    plat::SleepMs(100);
  }
  return false;
}

struct ScanNet : ::testing::Test {
  void SetUp() override {
    if (!TestNet::Available()) GTEST_SKIP() << "needs the test network (testnet/run.sh)";
    ASSERT_TRUE(sockets.ok());
    ASSERT_TRUE(sim.Connect());
    ASSERT_TRUE(sim.Reset());
    ASSERT_TRUE(WarmUp(sim)) << "the test network never carried a datagram";
    mgr = Ref<Manager>::Adopt(CreateObject<Manager>(kNoLibrary));
    sink = Ref<Sink>::Adopt(CreateObject<Sink>());
    ASSERT_TRUE(mgr->Advise(sink.get(), true));
  }

  std::string Add(const std::string& settings) {
    std::string why;
    std::string mac = sim.AddDevice(settings, &why);
    EXPECT_FALSE(mac.empty()) << settings << ": " << why;
    return Lower(mac);
  }

  uint32_t Scan() {
    const uint32_t start = plat::TickCount();
    mgr->Scan();
    return plat::TicksSince(start);
  }

  IDeviceInfoX* Record(const std::string& mac) {
    for (const auto& d : mgr->devices()) {
      uint8_t m[6];
      d->GetMac(m);
      if (CountingSink::MacOf(m) == mac) return d.get();
    }
    return nullptr;
  }

  plat::SocketsLibrary sockets;
  SimClient sim;
  Ref<Manager> mgr;
  Ref<Sink> sink;
};

struct ListedRow {
  const char* code;
  const char* name;
  int32_t number;
};
const ListedRow kListed[] = {
    {"RMT235", "RMT-2359", 4}, {"RMT539", "RMT-539", 5},     {"QM235B", "QMA-2351B", 6}, {"Q235BR", "QMA-2351BR", 7},
    {"QM99VB", "QMA-991B", 8}, {"Q99VBR", "QMA-991BR", 9},   {"A5411+", "A5411+", 10},   {"A5261+", "A5261+", 11},
    {"KV3R", "KV-3R", 12},     {"KV2R", "KV-2R", 13},        {"KV1R", "KV-1R", 14},
};

TEST_F(ScanNet, EveryListedModelThroughEachReplyKindAndBothInterfaces) {
  struct Want {
    std::string mac;
    const ListedRow* row;
    int replies;
  };
  std::vector<Want> want;
  // The text scan goes to each interface's directed broadcast; the devices'
  // addresses are in qsa's subnet, so 10.72.15.255 is not their broadcast.
  for (const ListedRow& r : kListed)
    for (const char* kind : {"text", "auth"})
      want.push_back({Add(std::string("model=") + r.code + " segment=both reply=" + kind), &r,
                      std::string(kind) == "text" ? 1 : 2});
  Scan();
  EXPECT_EQ(mgr->lastScan().interfaces, 2u);
  ASSERT_EQ(mgr->devices().size(), want.size());
  const auto listing = sim.List();
  for (const Want& w : want) {
    IDeviceInfoX* d = Record(w.mac);
    ASSERT_NE(d, nullptr) << w.row->code << " " << w.mac;
    EXPECT_EQ(d->GetModelId(), w.row->number);
    EXPECT_EQ(plat::WideToAnsi(d->GetName()), w.row->name);
    // the address the device reported is the one the simulator gave it
    auto shown = sim.Show(w.mac);
    EXPECT_EQ(d->GetAddress(), test::ParseAddress(shown["ip"])) << w.mac;
    // one reply through each PC interface that reaches it: one record, refreshed once
    EXPECT_EQ(sink->calls[w.mac], w.replies) << w.row->code << " " << w.mac;
  }
}

TEST_F(ScanNet, OneDeviceAnsweringBothKindsOnBothInterfacesIsOneRecord) {
  std::string mac = Add("model=A5261+ segment=both reply=both text_extra=\"trailing words\"");
  std::string onlyA = Add("model=RMT539 segment=A reply=both");
  Scan();
  ASSERT_EQ(mgr->devices().size(), 2u);
  EXPECT_EQ(sink->calls[mac], 3);  // text through qsa, announce through qsa and qsb
  EXPECT_EQ(sink->calls[onlyA], 2);
  // a second scan refreshes the same records
  IDeviceInfoX* first = Record(mac);
  Scan();
  EXPECT_EQ(mgr->devices().size(), 2u);
  EXPECT_EQ(Record(mac), first);
}

TEST_F(ScanNet, UnlistedAndUnknownModelsGiveNoRecord) {
  for (const char* code : {"QMA271", "QMA523", "QMA11", "QMAJJ", "QMA", "KOV239"}) {
    Add(std::string("model=") + code + " reply=text");
    Add(std::string("model=") + code + " reply=auth");
  }
  // not a table code: no row, or the unlisted "QMA" row by the prefix rule
  for (const char* code : {"KV4R", "ZZ1234", "QMAXYZ", "RMT23", "qm235b"}) Add(std::string("model=") + code + " reply=both");
  std::string control = Add("model=QM99VB reply=both");
  Scan();
  ASSERT_EQ(mgr->devices().size(), 1u);
  EXPECT_NE(Record(control), nullptr);
  EXPECT_EQ(sink->total, 2);
}

TEST_F(ScanNet, CodesAreMatchedByPrefixWithinTheirField) {
  std::string longer = Add("model=RMT235XY reply=auth");  // RMT-2359 by prefix
  std::string kv = Add("model=KV1R reply=auth");          // NUL-padded in its field
  Scan();
  ASSERT_EQ(mgr->devices().size(), 2u);
  ASSERT_NE(Record(longer), nullptr);
  EXPECT_EQ(Record(longer)->GetModelId(), 4);
  ASSERT_NE(Record(kv), nullptr);
  EXPECT_EQ(Record(kv)->GetModelId(), 14);
}

TEST_F(ScanNet, FaultyRepliesGiveNoRecordAndNoHang) {
  Add("model=RMT235 reply=none");
  Add("model=RMT235 reply=both mute=all");
  Add("model=RMT539 reply=auth digest=bad");
  Add("model=RMT539 reply=auth digest=oldnonce");
  Add("model=A5411+ reply=auth lenoff=1");
  Add("model=A5411+ reply=auth lenoff=-1");
  Add("model=A5261+ reply=auth announce_len=46");  // too short for the model code
  std::string control = Add("model=A5261+ reply=auth announce_len=47");
  for (int scan = 0; scan < 2; ++scan) {  // the second scan gets replies bound to the first nonce
    uint32_t ms = Scan();
    EXPECT_LT(ms, 1500u);
    ASSERT_EQ(mgr->devices().size(), 1u) << "scan " << scan;
    EXPECT_NE(Record(control), nullptr);
  }
  // the faulty devices did answer: the simulator sent their replies
  size_t announces = 0;
  for (const auto& l : sim.Sent())
    if (test::ParseFields(l)["kind"] == "announce") ++announces;
  EXPECT_GE(announces, 2u * 6u);
}

TEST_F(ScanNet, ABurstOfDevicesAnsweringAtOnceIsCollectedWhole) {
  std::vector<std::string> macs;
  for (int i = 0; i < 200; ++i) macs.push_back(Add(std::string("model=") + kListed[i % 11].code + " reply=both"));
  uint32_t ms = Scan();
  EXPECT_LT(ms, 2000u);
  EXPECT_EQ(mgr->devices().size(), macs.size());
  EXPECT_EQ(mgr->lastScan().errors, 0u);
  for (const auto& m : macs) EXPECT_EQ(sink->calls[m], 2) << m;
}

TEST_F(ScanNet, AFloodOfJunkDuringTheScanNeitherHangsNorHidesDevices) {
  std::vector<std::string> macs;
  for (const char* code : {"KV2R", "QM235B", "RMT235"}) macs.push_back(Add(std::string("model=") + code + " reply=both segment=both"));
  ASSERT_TRUE(sim.Flood("count=4000 size=1200"));  // some longer than a receive buffer
  uint32_t ms = Scan();
  const CollectLimits limits;
  EXPECT_LE(ms, limits.hardLimitMs + 500);
  EXPECT_EQ(mgr->devices().size(), macs.size());
  for (const auto& m : macs) EXPECT_NE(Record(m), nullptr);
  EXPECT_GT(mgr->lastScan().datagrams, 1000u);
  EXPECT_GT(mgr->lastScan().errors, 0u);  // oversized datagrams were skipped, not fatal
}

TEST_F(ScanNet, ASteadyFloodIsCutOffByTheHardLimit) {
  // A socket of its own on the namespace's loopback with a backlog of junk and
  // a handler slow enough that there is always another datagram waiting: the
  // loop sees activity on every pass, as under a steady flood.
  constexpr uint32_t kLoopback = 0x7F000001u;
  std::vector<plat::UdpSocket> sockets;
  sockets.emplace_back();
  ASSERT_TRUE(sockets[0].Open() && sockets[0].Bind(kLoopback, 0));
  sockets[0].SetReceiveBuffer(kScanSocketBuffer);
  const uint16_t port = sockets[0].LocalAddress().port;
  plat::UdpSocket sender;
  ASSERT_TRUE(sender.Open());
  uint8_t junk[64] = {0x02, 'Q', 'M', 'A', 0x03};
  for (int i = 0; i < 600; ++i) sender.SendTo(junk, sizeof junk, kLoopback, port);
  plat::SleepMs(50);
  CollectLimits limits;
  limits.hardLimitMs = 1500;
  size_t handled = 0;
  auto slow = [](const uint8_t*, size_t, void* ctx) {
    ++*static_cast<size_t*>(ctx);
    plat::SleepMs(10);
    return ReplyKind::Invalid;
  };
  const uint32_t start = plat::TickCount();
  ScanStats st = CollectReplies(sockets, slow, &handled, limits);
  const uint32_t ms = plat::TicksSince(start);
  EXPECT_TRUE(st.hitHardLimit) << handled << " handled";
  EXPECT_GE(ms, 1500u);
  EXPECT_LT(ms, 2000u);
  EXPECT_GT(handled, 50u);
  EXPECT_LT(handled, 600u);  // it stopped with datagrams still queued

  auto count = [](const uint8_t*, size_t, void* ctx) {
    ++*static_cast<size_t*>(ctx);
    return ReplyKind::Invalid;
  };
  // Without traffic the window alone ends it.
  plat::SleepMs(20);
  while (sockets[0].PollReadable()) {
    uint8_t b[1024];
    sockets[0].RecvFrom(b, sizeof b, nullptr);
  }
  const uint32_t quiet = plat::TickCount();
  st = CollectReplies(sockets, count, &handled, limits);
  EXPECT_FALSE(st.hitHardLimit);
  EXPECT_GE(plat::TicksSince(quiet), 480u);
  EXPECT_LT(plat::TicksSince(quiet), 1000u);
}

TEST_F(ScanNet, TheDownInterfaceIsNeverUsed) {
  Add("model=RMT235 reply=both segment=both");
  Scan();
  EXPECT_EQ(mgr->lastScan().interfaces, 2u);
  std::multiset<std::string> from;
  for (const auto& l : sim.Log()) {
    auto f = test::ParseFields(l);
    if (f["kind"] != "scan" && f["kind"] != "discover") continue;
    from.insert(f["kind"] + " " + f["src"].substr(0, f["src"].find(':')) + " " + f["dst"]);
  }
  const std::multiset<std::string> want = {"scan 10.71.0.1 10.71.15.255", "scan 10.72.0.1 10.72.15.255",
                                           "discover 10.71.0.1 255.255.255.255",
                                           "discover 10.72.0.1 255.255.255.255"};
  EXPECT_EQ(from, want);
  EXPECT_EQ(test::FormatAddress(TestNet::PcDown()), "10.73.0.1");
}

// Each interface's counts match what the simulated devices there sent: the
// scan tells what came back where, for a user who wonders why nothing did.
TEST_F(ScanNet, CountsWhatEachInterfaceSentAndHeard) {
  Add("model=RMT235 reply=text segment=A ip=10.71.1.10");
  Add("model=A5411+ reply=auth segment=B ip=10.72.1.20");
  Add("model=KV1R reply=both segment=both ip=10.71.1.30");
  Add("model=QMA271 reply=both segment=A ip=10.71.1.40");
  Scan();
  const ScanStats& st = mgr->lastScan();
  EXPECT_FALSE(st.interfaceQueryFailed);
  std::map<uint32_t, const InterfaceScan*> by;
  for (const InterfaceScan& i : st.seen) by[i.seen.address] = &i;
  ASSERT_TRUE(by.count(TestNet::PcA()) && by.count(TestNet::PcB()) && by.count(TestNet::PcDown()));
  for (uint32_t pc : {TestNet::PcA(), TestNet::PcB()}) {
    const InterfaceScan& i = *by[pc];
    EXPECT_TRUE(i.qualifies && i.socket);
    EXPECT_EQ(i.textProbes, 1u);
    EXPECT_EQ(i.discoverRequests, 1u);
    EXPECT_EQ(i.sendFailures, 0u);
    EXPECT_EQ(i.replies.invalid, 0u);
    EXPECT_EQ(i.replies.errors, 0u);
  }
  // qsa: the RMT's text reply, the KV-1R's text reply and announce, the
  // QMA-2711's two; qsb: the A5411+'s and the KV-1R's announces (the text
  // probe there is not the devices' broadcast).
  const ReplyCounts& a = by[TestNet::PcA()]->replies;
  EXPECT_EQ(a.firstFamily, 1u);
  EXPECT_EQ(a.kvxr, 2u);
  EXPECT_EQ(a.unlisted, 2u);
  const ReplyCounts& b = by[TestNet::PcB()]->replies;
  EXPECT_EQ(b.firstFamily, 1u);
  EXPECT_EQ(b.kvxr, 1u);
  EXPECT_EQ(b.unlisted, 0u);
  const InterfaceScan& down = *by[TestNet::PcDown()];
  EXPECT_FALSE(down.qualifies || down.socket);
  EXPECT_EQ(down.textProbes + down.discoverRequests + down.replies.Total(), 0u);
  EXPECT_EQ(a.Total() + b.Total(), st.datagrams);
}

// A record as the manager keeps it for a KV-xR device the library reported.
Ref<IDeviceInfoX> KvRecord(const std::map<std::string, std::string>& shown, VersionPair version) {
  DeviceReport r;
  r.row = FindModelByName("KV-1R");
  r.address = test::ParseAddress(shown.at("ip"));
  r.version = version;
  auto det = std::make_unique<DeviceDetails>();
  const std::string& hex = shown.at("hwid");
  for (int i = 0; i < 16; ++i) det->hardwareId[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  bytes::PutBe32(det->currentAddress, r.address);
  r.details = std::move(det);
  return Ref<IDeviceInfoX>::Adopt(CreateDeviceInfo(std::move(r)));
}

TEST_F(ScanNet, WinksGoOutAsTheFirmwareVersionAsks) {
  std::string mac = Add("model=KV1R segment=both");
  auto shown = sim.Show(mac);
  ASSERT_FALSE(shown["hwid"].empty());
  std::string hwidLower = Lower(shown["hwid"]);

  struct Case {
    VersionPair v;
    bool legacy;
  };
  for (const Case& c : {Case{{0, 136}, true}, Case{{0, 1}, true}, Case{{0, 137}, false}, Case{{1, 0}, false},
                        Case{{0, 0}, false}}) {
    SCOPED_TRACE(std::to_string(c.v.major) + "." + std::to_string(c.v.minor));
    ASSERT_TRUE(sim.Command("clearlog"));
    Ref<IDeviceInfoX> rec = KvRecord(shown, c.v);
    WinkOutcome w = SendWinkTo(rec.get());
    EXPECT_EQ(w.kind, c.legacy ? WinkKind::Legacy : WinkKind::Authenticated);
    // the simulator handles datagrams in order; give it a moment
    std::vector<std::map<std::string, std::string>> winks;
    const uint32_t start = plat::TickCount();
    size_t expect = c.legacy ? 1 : 2;
    while (plat::TicksSince(start) < 2000) {
      winks.clear();
      for (const auto& l : sim.Winks()) winks.push_back(test::ParseFields(l));
      if (winks.size() >= expect) break;
      plat::SleepMs(20);
    }
    plat::SleepMs(100);
    winks.clear();
    for (const auto& l : sim.Winks()) winks.push_back(test::ParseFields(l));
    ASSERT_EQ(winks.size(), expect);
    if (c.legacy) {
      EXPECT_EQ(w.sent, 1u);
      EXPECT_EQ(winks[0]["kind"], "text");
      EXPECT_EQ(winks[0]["dst"], shown["ip"]);
      EXPECT_EQ(Lower(winks[0]["mac"]), mac);
    } else {
      EXPECT_EQ(w.sent, 2u);
      EXPECT_EQ(w.from, (std::vector<uint32_t>{TestNet::PcA(), TestNet::PcB()}));
      std::set<std::string> segs;
      for (auto& k : winks) {
        EXPECT_EQ(k["kind"], "auth");
        EXPECT_EQ(k["valid"], "1");
        EXPECT_EQ(k["dst"], "255.255.255.255");
        EXPECT_EQ(Lower(k["hwid"]), hwidLower);
        EXPECT_EQ(Lower(k["mac"]), mac);
        segs.insert(k["seg"]);
      }
      EXPECT_EQ(segs, (std::set<std::string>{"A", "B"}));
      // the same 56 bytes from each interface
      auto logged = sim.LogOfKind("wink");
      ASSERT_EQ(logged.size(), 2u);
      EXPECT_EQ(logged[0]["len"], "56");
      EXPECT_EQ(logged[0]["hex"], logged[1]["hex"]);
    }
  }
}

}  // namespace
}  // namespace qs::disc
