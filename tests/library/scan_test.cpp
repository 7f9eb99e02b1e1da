// The real library (shared library; the DLL under Wine) scanning the test
// network's simulated devices through its exports, from a host thread with a
// visible window (Windows) or the library's dispatcher (Linux).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "library/KV-xR_update.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "tests/library/test_host.h"
#include "tests/support/sim_client.h"

namespace qs::test {
namespace {

// The simulator's control connection needs the sockets library on this thread.
plat::SocketsLibrary g_sockets;

struct Seen {
  int32_t handle;
  std::string line;
  uint32_t thread;
  bool afterReturn;
  int serialResult;
  std::string serial;
  int idResult;
  uint8_t id[16];
};

std::vector<Seen> g_seen;
std::vector<Seen> g_seenOther;
std::atomic<int> g_done{0};
std::atomic<uint32_t> g_doneThread{0};
std::atomic<bool> g_doneFlag{false};
bool g_returned = false;

std::string Narrow(const KVxR_WCHAR* w) {
  std::string s;
  for (; w && *w; ++w) s.push_back(static_cast<char>(*w));
  return s;
}

Seen Take(int32_t h, const KVxR_WCHAR* line) {
  Seen s{h, Narrow(line), plat::CurrentThreadId(), g_returned, 0, "", 0, {}};
  KVxR_WCHAR serial[200] = {};
  s.serialResult = KVxR_GetSerial(h, serial, 200);
  s.serial = Narrow(serial);
  s.idResult = KVxR_GetHardwareID(h, s.id);
  return s;
}

void OnDevice(int32_t h, const KVxR_WCHAR* line) { g_seen.push_back(Take(h, line)); }
void OnDeviceOther(int32_t h, const KVxR_WCHAR* line) { g_seenOther.push_back(Take(h, line)); }

void OnDone() {
  ++g_done;
  g_doneThread = plat::CurrentThreadId();
  g_doneFlag = true;
}

std::vector<std::pair<int32_t, std::string>> g_enum;
void OnEnum(int32_t h, const KVxR_WCHAR* line) {
  KVxR_WCHAR serial[200];
  // A look-up from inside the enumeration: the table lock is re-entered.
  if (KVxR_GetSerial(h, serial, 200) == 0) g_enum.emplace_back(h, Narrow(line) + "#" + Narrow(serial));
}

std::string Hex(const uint8_t* p, size_t n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(d[p[i] >> 4]);
    s.push_back(d[p[i] & 15]);
  }
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The line the library must give for the simulator's device.
std::string ExpectedLine(const std::map<std::string, std::string>& d, const std::string& version) {
  std::string mac = d.at("mac");
  std::replace(mac.begin(), mac.end(), '-', ':');
  const std::string& m = d.at("model");
  std::string name = "KV-" + m.substr(2, 1) + "R";
  return name + "|" + d.at("ip") + "|" + mac + "|" + version + "|" + (d.at("dhcp") == "1" ? "DHCP" : "static") + "|" +
         d.at("static") + "|" + d.at("mask") + "|" + d.at("gw");
}

class Scan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(OpenHost()); }

  void SetUp() override {
    ASSERT_TRUE(TestNet::Available()) << "run inside testnet/run.sh";
    ASSERT_TRUE(sim_.Connect());
    ASSERT_TRUE(sim_.Reset());
    g_seen.clear();
    g_seenOther.clear();
    g_done = 0;
    g_doneFlag = false;
  }

  // One scan from this thread; pumps until done and the late version answers.
  void RunScan(KVxR_DeviceCallback cb, uint32_t afterDoneMs = 1500) {
    g_returned = false;
    uint32_t t0 = plat::TickCount();
    ASSERT_EQ(KVxR_DiscoverDevices(1000, cb, OnDone), KVXR_OK);
    g_returned = true;
    Pump(9000, &g_doneFlag);
    ASSERT_TRUE(g_doneFlag.load()) << "no done callback";
    EXPECT_GE(plat::TicksSince(t0), 4500u);  // the interface scans last 5 s
    Pump(afterDoneMs);
  }

  std::vector<const Seen*> ByMac(const std::string& mac) {
    std::string m = mac;
    std::replace(m.begin(), m.end(), '-', ':');
    std::vector<const Seen*> out;
    for (const Seen& s : g_seen)
      if (s.line.find("|" + m + "|") != std::string::npos) out.push_back(&s);
    return out;
  }

  SimClient sim_;
};

int32_t g_firstScanHandle = 0;

TEST_F(Scan, FindsEveryKvxrDeviceOnBothInterfacesWithItsDetails) {
  std::string a = sim_.AddDevice("model=KV1R segment=A version=1.12 opmode=3 serial=SN-ALPHA");
  std::string b = sim_.AddDevice("model=KV2R segment=B dhcp=1 version_format=space opmode_items=mode announce_repeat=3");
  std::string c = sim_.AddDevice("model=KV3R segment=both version=2.5 opmode=9 opmode_order=after");
  std::string d = sim_.AddDevice("model=KV1R segment=B mute=version opmode=4");
  std::string e = sim_.AddDevice("model=KV4R segment=A");
  std::string f = sim_.AddDevice("model=KV2R segment=A version_delay=1500 opmode=5");
  // Replies signed for an earlier request, with a wrong digest or a wrong
  // length never authenticate.
  std::string g = sim_.AddDevice("model=KV1R segment=A digest=oldnonce");
  std::string h = sim_.AddDevice("model=KV2R segment=B digest=bad");
  std::string k = sim_.AddDevice("model=KV3R segment=A lenoff=1");
  for (const std::string* m : {&a, &b, &c, &d, &e, &f, &g, &h, &k}) ASSERT_FALSE(m->empty());
  ASSERT_EQ(KVxR_GetLibraryVersion(), 2);
  ASSERT_EQ(KVxR_SetDiscoveryMode(0), KVXR_OK);

  RunScan(OnDevice);
  EXPECT_EQ(g_done.load(), 1);
  EXPECT_NE(g_doneThread.load(), plat::CurrentThreadId());  // a library thread

  // One handle per device and interface; the KV4R never appears.
  std::set<int32_t> handles;
  for (const Seen& s : g_seen) {
    EXPECT_TRUE(handles.insert(s.handle).second) << "handle twice: " << s.handle;
    EXPECT_EQ(s.thread, plat::CurrentThreadId()) << s.line;
    EXPECT_TRUE(s.afterReturn);
    EXPECT_EQ(s.serialResult, 0);
    EXPECT_EQ(s.idResult, 0);
  }
  // c is on both segments, but its address is in qsa's subnet: the directed
  // broadcast 10.72.15.255 is not its own (the limited broadcast of the next
  // test reaches it through both interfaces).
  EXPECT_EQ(g_seen.size(), 5u);
  EXPECT_TRUE(ByMac(e).empty());
  EXPECT_TRUE(ByMac(g).empty());
  EXPECT_TRUE(ByMac(h).empty());
  EXPECT_TRUE(ByMac(k).empty());

  struct Want {
    std::string mac, version;
    size_t count;
    uint8_t opmode;
  };
  const Want wants[] = {{a, "1.12", 1, 3}, {b, "*", 1, 0}, {c, "2.5", 1, 0}, {d, "*", 1, 4}, {f, "*", 1, 5}};
  for (const Want& w : wants) {
    auto show = sim_.Show(w.mac);
    ASSERT_FALSE(show.empty()) << w.mac;
    auto got = ByMac(w.mac);
    ASSERT_EQ(got.size(), w.count) << w.mac;
    for (const Seen* s : got) {
      EXPECT_EQ(s->line, ExpectedLine(show, w.version));
      EXPECT_EQ(s->serial, show.at("serial"));
      EXPECT_EQ(Hex(s->id, 16), Lower(show.at("hwid")));
      uint8_t mode = 0xEE;
      EXPECT_EQ(KVxR_ReadOperationMode(s->handle, &mode), KVXR_OK);
      EXPECT_EQ(mode, w.opmode) << s->line;
    }
  }
  EXPECT_EQ(ByMac(a)[0]->serial, "SN-ALPHA");
  if (ByMac(c).size() == 2) {
    EXPECT_NE(ByMac(c)[0]->handle, ByMac(c)[1]->handle);
  }

  // Enumeration: the same table in ascending handle order, with look-ups inside.
  g_enum.clear();
  EXPECT_EQ(KVxR_EnumDevices(OnEnum), KVXR_OK);
  ASSERT_EQ(g_enum.size(), g_seen.size());
  for (size_t i = 1; i < g_enum.size(); ++i) EXPECT_LT(g_enum[i - 1].first, g_enum[i].first);

  // Directed broadcast on each interface, repeated only after quiet spells.
  auto discovers = sim_.LogOfKind("discover");
  std::map<std::string, int> perDestination;
  for (auto& l : discovers) {
    EXPECT_EQ(l["port"], "9010");
    EXPECT_EQ(l["valid"], "1");
    ++perDestination[l["dst"]];
  }
  EXPECT_EQ(perDestination.size(), 2u);
  for (auto& p : perDestination) {
    EXPECT_TRUE(p.first == "10.71.15.255" || p.first == "10.72.15.255") << p.first;
    EXPECT_GE(p.second, 2);
    EXPECT_LE(p.second, 9);
  }
  EXPECT_GE(sim_.LogOfKind("version").size(), 5u);  // one per device record
  g_firstScanHandle = g_seen.empty() ? 0 : g_seen.front().handle;
}

TEST_F(Scan, LimitedBroadcastModeAndHandlesOfTheLastScanEnd) {
  ASSERT_NE(g_firstScanHandle, 0) << "needs the first scan";
  std::string a = sim_.AddDevice("model=KV1R segment=both");
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(KVxR_SetDiscoveryMode(1), KVXR_OK);
  EXPECT_EQ(KVxR_SetDiscoveryMode(7), KVXR_BAD_DISCOVERY_MODE);  // keeps mode 1
  RunScan(OnDevice, 1200);
  ASSERT_EQ(g_seen.size(), 2u);  // once per interface, with different handles
  EXPECT_NE(g_seen[0].handle, g_seen[1].handle);
  EXPECT_GT(g_seen[0].handle, g_firstScanHandle);

  KVxR_WCHAR serial[200];
  uint8_t id[16], mode = 0;
  EXPECT_EQ(KVxR_GetSerial(g_firstScanHandle, serial, 200), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_GetHardwareID(g_firstScanHandle, id), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_ReadOperationMode(g_firstScanHandle, &mode), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_GetSerial(g_seen[0].handle, serial, 200), KVXR_OK);

  auto discovers = sim_.LogOfKind("discover");
  std::set<std::string> segments;
  ASSERT_FALSE(discovers.empty());
  for (auto& l : discovers) {
    EXPECT_EQ(l["dst"], "255.255.255.255");
    segments.insert(l["seg"]);
  }
  EXPECT_EQ(segments.size(), 2u);  // sent on both interfaces
  EXPECT_EQ(KVxR_SetDiscoveryMode(0), KVXR_OK);
}

TEST_F(Scan, BackToBackScansDeliverToTheirOwnCallbacks) {
  std::string slow = sim_.AddDevice("model=KV3R segment=A version_delay=700");
  std::string fast = sim_.AddDevice("model=KV1R segment=B");
  ASSERT_FALSE(slow.empty());
  ASSERT_FALSE(fast.empty());
  ASSERT_EQ(KVxR_DiscoverDevices(1000, OnDeviceOther, nullptr), KVXR_OK);
  Pump(250);
  RunScan(OnDevice, 1200);
  // The first scan's late device reached the first callback with a handle
  // above the second scan's fast one.
  ASSERT_EQ(g_seenOther.size(), 2u);
  ASSERT_EQ(g_seen.size(), 2u);
  int32_t firstSlow = 0, secondFast = 0;
  for (const Seen& s : g_seenOther)
    if (s.line.rfind("KV-3R", 0) == 0) firstSlow = s.handle;
  for (const Seen& s : g_seen)
    if (s.line.rfind("KV-1R", 0) == 0) secondFast = s.handle;
  EXPECT_GT(firstSlow, secondFast);
  // Only the current scan's handles answer.
  KVxR_WCHAR serial[200];
  for (const Seen& s : g_seenOther) EXPECT_EQ(KVxR_GetSerial(s.handle, serial, 200), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(g_done.load(), 1);
}

// Last: the end of the host window ends the library's work.
TEST_F(Scan, ClosingTheHostWindsUpTheRunningScan) {
  if (!HostCloseReachesLibrary()) GTEST_SKIP() << "the host of a shared library on Linux lives as long as the process";
  ASSERT_FALSE(sim_.AddDevice("model=KV1R segment=A version_delay=900").empty());
  ASSERT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnDone), KVXR_OK);
  Pump(300);
  uint32_t t0 = plat::TickCount();
  CloseHost();
  EXPECT_EQ(g_done.load(), 1);  // called by the wind-up, at the latest
  EXPECT_LT(plat::TicksSince(t0), 6000u);
  Pump(1500);
  EXPECT_TRUE(g_seen.empty());
}

}  // namespace
}  // namespace qs::test
