// Recovery mode and product data through the real library (the DLL under Wine
// on Windows) against the simulator's KV-xR units in a test network: units
// stuck in either kind of boot loader on both subnets, found, programmed and
// back as applications; the event sequences of a unit reported twice; units
// that appear late or fall back into their boot loader; updates interrupted
// half-way through a write and brought back; the product-data step of updates
// with the device log checked on disk; the debug read and erase.
#include <gtest/gtest.h>
#include <picojson.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "library/KV-xR_update.h"
#include "platform/appdata.h"
#include "platform/sha1.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "runtime/bytes.h"
#include "tests/library/test_host.h"
#include "tests/support/sim_client.h"

namespace qs::test {
namespace {

namespace fs = std::filesystem;

plat::SocketsLibrary g_sockets;

// ---- scans ----

std::map<std::string, int32_t> g_byMac;          // "02-..." -> handle
std::map<std::string, std::string> g_lineByMac;  // -> device line
std::atomic<bool> g_scanDone{false};

std::string Narrow(const KVxR_WCHAR* w) {
  std::string s;
  for (; w && *w; ++w) s.push_back(static_cast<char>(*w));
  return s;
}
std::string Dashed(std::string mac) {
  for (char& c : mac)
    if (c == ':') c = '-';
  return mac;
}
std::string Field(const std::string& line, int n) {
  size_t start = 0;
  for (int i = 0; i < n; ++i) start = line.find('|', start) + 1;
  return line.substr(start, line.find('|', start) - start);
}
void OnDevice(int32_t h, const KVxR_WCHAR* line) {
  std::string s = Narrow(line);
  std::string mac = Dashed(Field(s, 2));
  g_byMac[mac] = h;
  g_lineByMac[mac] = s;
}
void OnScanDone() { g_scanDone = true; }

void Scan() {
  g_byMac.clear();
  g_lineByMac.clear();
  g_scanDone = false;
  ASSERT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnScanDone), KVXR_OK);
  Pump(9000, &g_scanDone);
  ASSERT_TRUE(g_scanDone.load());
  Pump(1200);
}

// ---- recovery events ----

struct RecoveryCall {
  int32_t number;
  std::string text;  // event 1 only
  int32_t event;
  int32_t value;
};
std::vector<RecoveryCall> g_calls;
std::map<int32_t, std::string> g_macOfNumber;  // from event 1 texts
bool g_textNull = true;                          // every event other than 1 came with a null text

void OnRecovery(int32_t number, const KVxR_WCHAR* text, int32_t event, int32_t value) {
  RecoveryCall c{number, text ? Narrow(text) : std::string(), event, value};
  if (event == 1) g_macOfNumber[number] = Dashed(c.text.substr(c.text.find('|') + 1));
  else if (text) g_textNull = false;
  g_calls.push_back(c);
}

// Event list of one number, as "1,2:100,3" (value shown when not 0).
std::string Sequence(int32_t number) {
  std::string s;
  for (const RecoveryCall& c : g_calls) {
    if (c.number != number) continue;
    if (!s.empty()) s += ",";
    s += std::to_string(c.event);
    if (c.value != 0) s += ":" + std::to_string(c.value);
  }
  return s;
}
// Sequence without the progress events (4): they depend on timing.
std::string Outline(int32_t number) {
  std::string s;
  for (const RecoveryCall& c : g_calls) {
    if (c.number != number || c.event == 4) continue;
    if (!s.empty()) s += ",";
    s += std::to_string(c.event);
    if (c.value != 0) s += ":" + std::to_string(c.value);
  }
  return s;
}
std::vector<int32_t> NumbersOf(const std::string& mac) {
  std::vector<int32_t> out;
  for (const auto& [n, m] : g_macOfNumber)
    if (m == mac) out.push_back(n);
  return out;
}

struct Outcome {
  int32_t number = 0;
  int32_t event = 0;  // 5, 6 or 7
  int32_t value = 0;
};

// Pumps until every wanted unit's programming has ended, resuming each unit
// as soon as its event 3 arrives (at most once per number). Only events from
// now on count.
std::map<std::string, Outcome> RecoverAll(const std::set<std::string>& wanted, uint32_t budgetMs) {
  std::map<std::string, Outcome> done;
  std::set<int32_t> resumed;
  size_t seen = g_calls.size();
  const uint32_t t0 = plat::TickCount();
  while (done.size() < wanted.size() && plat::TicksSince(t0) < budgetMs) {
    Pump(50);
    for (; seen < g_calls.size(); ++seen) {
      const RecoveryCall c = g_calls[seen];
      auto m = g_macOfNumber.find(c.number);
      if (m == g_macOfNumber.end() || !wanted.count(m->second)) continue;
      if (c.event == 3 && !done.count(m->second) && resumed.insert(c.number).second) {
        EXPECT_EQ(KVxR_ResumeRecovery(c.number), 0) << m->second;
      }
      if (c.event >= 5 && c.event <= 7) done[m->second] = Outcome{c.number, c.event, c.value};
    }
  }
  return done;
}

// ---- firmware files ----

// Intel HEX of the chunks, with extended linear addresses.
std::string Hex(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& chunks) {
  std::string out;
  auto line = [&](uint8_t type, uint16_t address, const uint8_t* d, size_t n) {
    std::vector<uint8_t> b{static_cast<uint8_t>(n), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                           type};
    b.insert(b.end(), d, d + n);
    uint8_t sum = 0;
    for (uint8_t v : b) sum = static_cast<uint8_t>(sum + v);
    b.push_back(static_cast<uint8_t>(-sum));
    out += ":" + bytes::HexText(b.data(), b.size()) + "\n";
  };
  for (const auto& c : chunks) {
    for (size_t i = 0; i < c.second.size(); i += 16) {
      uint32_t a = c.first + static_cast<uint32_t>(i);
      uint8_t hi[2] = {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16)};
      line(4, 0, hi, 2);
      size_t n = c.second.size() - i < 16 ? c.second.size() - i : 16;
      line(0, static_cast<uint16_t>(a), c.second.data() + i, n);
    }
  }
  line(1, 0, nullptr, 0);
  return out;
}

std::vector<uint8_t> InfoChunk(const std::string& version) {
  std::string info = "fw.info{\"model\":\"KV-xR\",\"version\":\"" + version + "\"}";
  std::vector<uint8_t> c(info.begin(), info.end());
  c.push_back(0);
  c.resize(256, 0x5A);
  return c;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> b(n);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

class Recovery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(OpenHost());
    // The library's device logs go to the machine-wide folder: on Linux the
    // one named here, on Windows the (Wine prefix's) common application data.
    scratch_ = fs::temp_directory_path() / ("qs-recovery." + std::to_string(plat::TickCount()));
    fs::create_directories(scratch_);
#ifndef _WIN32
    ASSERT_EQ(setenv("QS_COMMON_APPDATA", scratch_.string().c_str(), 1), 0);
#endif
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(scratch_, ec);
  }
  void SetUp() override {
    ASSERT_TRUE(TestNet::Available());
    ASSERT_TRUE(sim_.Connect());
    ASSERT_TRUE(sim_.Reset());
    g_calls.clear();
    g_macOfNumber.clear();
    g_textNull = true;
  }
  void TearDown() override { EXPECT_EQ(KVxR_SetRecoveryMode(0, nullptr), KVXR_OK); }

  // Loads a firmware file of the chunks; returns the version text.
  std::string Firmware(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& chunks,
                       const std::string& name = "fw.hex") {
    fs::path p = scratch_ / name;
    std::ofstream(p) << Hex(chunks);
    std::string path = p.string();
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // a host path; a Windows one has its drive
#endif
    std::u16string w = plat::Utf8ToWide(path);
    KVxR_WCHAR v[16] = {};
    EXPECT_EQ(KVxR_SetFirmwareFile(reinterpret_cast<const KVxR_WCHAR*>(w.c_str()), v, 16), KVXR_OK);
    return Narrow(v);
  }
  // A version's image: fw.info at 0x4000 and a chunk of code.
  std::string Version(const std::string& version, uint32_t seed = 1) {
    return Firmware({{0x4000, InfoChunk(version)}, {0x10000, Pattern(24000, seed)}});
  }

  std::string Add(const std::string& settings) {
    std::string mac = sim_.AddDevice(settings + " loader_delay=200 app_delay=200 wpboot_interval=200");
    EXPECT_FALSE(mac.empty()) << settings;
    return mac;
  }
  std::string State(const std::string& mac) { return sim_.Show(mac)["state"]; }
  // Waits until the unit's setting has the value.
  bool WaitFor(const std::string& mac, const std::string& key, const std::string& value, uint32_t ms) {
    const uint32_t t0 = plat::TickCount();
    do {
      if (sim_.Show(mac)[key] == value) return true;
      Pump(100);
    } while (plat::TicksSince(t0) < ms);
    return sim_.Show(mac)[key] == value;
  }

  SimClient sim_;
  static fs::path scratch_;
};
fs::path Recovery::scratch_;

// Update progress, for the updates these tests start.
std::map<int32_t, int32_t> g_updateEnd;  // handle -> final status
void OnUpdate(int32_t device, int32_t kind, int32_t value) {
  if (kind == 4) g_updateEnd[device] = value;
}
bool UpdatesEnded(size_t n, uint32_t ms) {
  const uint32_t t0 = plat::TickCount();
  while (g_updateEnd.size() < n && plat::TicksSince(t0) < ms) Pump(50);
  return g_updateEnd.size() >= n;
}

// ---- the modes and what they refuse ----

TEST_F(Recovery, ModesAndRefusals) {
  // Nothing was ever started: mode 0 is done at once.
  uint32_t t0 = plat::TickCount();
  EXPECT_EQ(KVxR_SetRecoveryMode(0, nullptr), KVXR_OK);
  EXPECT_LT(plat::TicksSince(t0), 100u);
  EXPECT_EQ(KVxR_SetRecoveryMode(1, OnRecovery), KVXR_NO_FIRMWARE);  // no firmware file yet
  EXPECT_EQ(KVxR_SetRecoveryMode(2, OnRecovery), KVXR_BAD_RECOVERY_MODE);
  EXPECT_EQ(KVxR_SetRecoveryMode(-1, OnRecovery), KVXR_BAD_RECOVERY_MODE);
  EXPECT_EQ(KVxR_ResumeRecovery(1), KVXR_NO_RECOVERY_DEVICE);

  std::string mac = Add("model=KV1R segment=A");
  Scan();
  ASSERT_TRUE(g_byMac.count(mac));
  const int32_t h = g_byMac[mac];
  Version("1.7");
  EXPECT_EQ(KVxR_SetRecoveryMode(1, nullptr), KVXR_NO_CALLBACK);
  ASSERT_EQ(KVxR_SetRecoveryMode(1, OnRecovery), KVXR_OK);
  // While recovery mode is on nothing else works on a unit.
  EXPECT_EQ(KVxR_UpdateFirmware(h, OnUpdate), KVXR_IN_RECOVERY);
  EXPECT_EQ(KVxR_DbgReadProductData(h, [](int32_t, int32_t, const uint8_t*) {}), KVXR_IN_RECOVERY);
  EXPECT_EQ(KVxR_DbgEraseProductData(h), KVXR_IN_RECOVERY);
  EXPECT_EQ(KVxR_SetRecoveryMode(1, OnRecovery), KVXR_OK);  // again: the period goes on
  Pump(1500);
  EXPECT_TRUE(g_calls.empty());  // a unit running its application is not in recovery
  EXPECT_EQ(KVxR_ResumeRecovery(12345), KVXR_NO_RECOVERY_DEVICE);
  t0 = plat::TickCount();
  EXPECT_EQ(KVxR_SetRecoveryMode(0, nullptr), KVXR_OK);
  EXPECT_LT(plat::TicksSince(t0), 5000u);
  // Off again: the unit can be updated.
  EXPECT_EQ(KVxR_UpdateFirmware(h, OnUpdate), KVXR_OK);
  EXPECT_TRUE(UpdatesEnded(1, 30000));
  EXPECT_EQ(g_updateEnd[h], 1);
  EXPECT_TRUE(WaitFor(mac, "version", "1.7", 5000));
}

// ---- stuck units ----

TEST_F(Recovery, StuckUnitsOnTwoSubnetsComeBackWithTheNewVersion) {
  // One of each loader kind on each subnet.
  std::string streamA = Add("model=KV1R segment=A stuck=1 loader=stream");
  std::string olderB = Add("model=KV2R segment=B stuck=1 loader=older");
  std::string olderA = Add("model=KV3R segment=A stuck=1 loader=older");
  std::string streamB = Add("model=KV2R segment=B stuck=1 loader=stream");
  for (const std::string* m : {&streamA, &olderB, &olderA, &streamB}) EXPECT_EQ(State(*m), "loader");
  EXPECT_EQ(Version("2.5", 3), "2.005");
  ASSERT_EQ(KVxR_SetRecoveryMode(1, OnRecovery), KVXR_OK);
  auto done = RecoverAll({streamA, olderB, olderA, streamB}, 60000);
  ASSERT_EQ(done.size(), 4u);
  for (const auto& [mac, o] : done) {
    EXPECT_EQ(o.event, 5) << mac << " " << Sequence(o.number);
    EXPECT_EQ(o.value, 1) << mac;
    // Found, prepared, ready, then programming and its end, in that order.
    EXPECT_EQ(Outline(o.number), "1,2:100,3,5:1") << mac;
    std::printf("%s: %s\n", mac.c_str(), Sequence(o.number).c_str());
  }
  EXPECT_TRUE(g_textNull);
  // The event-1 text names the address the unit announced from and its MAC.
  // An older loader announces from the address it was offered, and the
  // application comes back at its own: both lie in the unit's subnet.
  for (const RecoveryCall& c : g_calls) {
    if (c.event != 1) continue;
    std::string mac = g_macOfNumber[c.number];
    std::string dashed = Dashed(c.text);
    size_t bar = dashed.find('|');
    ASSERT_NE(bar, std::string::npos) << c.text;
    EXPECT_EQ(dashed.substr(bar + 1), mac) << c.text;
    uint32_t announced = 0, now = 0;
    ASSERT_TRUE(bytes::ParseIpv4(dashed.substr(0, bar), announced)) << c.text;
    ASSERT_TRUE(bytes::ParseIpv4(sim_.Show(mac)["ip"], now)) << mac;
    EXPECT_EQ(announced & 0xFFFFF000u, now & 0xFFFFF000u) << c.text;  // the test network's /20
    EXPECT_EQ(c.text.substr(c.text.find('|') + 3, 1), ":") << c.text;
  }
  EXPECT_EQ(sim_.Show(streamA)["ram_source"], "stream");
  EXPECT_EQ(sim_.Show(streamB)["ram_source"], "stream");
  EXPECT_EQ(sim_.Show(olderA)["ram_source"], "older");
  EXPECT_EQ(sim_.Show(olderB)["ram_source"], "older");
  // The older loaders were offered an address in their own subnet.
  EXPECT_EQ(ParseAddress(sim_.Show(olderA)["ip"]) & TestNet::Mask(), TestNet::PcA() & TestNet::Mask());
  EXPECT_EQ(ParseAddress(sim_.Show(olderB)["ip"]) & TestNet::Mask(), TestNet::PcB() & TestNet::Mask());
  ASSERT_EQ(KVxR_SetRecoveryMode(0, nullptr), KVXR_OK);

  // Back as applications with the new version, found by a scan.
  for (const std::string* m : {&streamA, &olderB, &olderA, &streamB}) EXPECT_TRUE(WaitFor(*m, "state", "online", 5000));
  Scan();
  for (const std::string* m : {&streamA, &olderB, &olderA, &streamB}) {
    ASSERT_TRUE(g_lineByMac.count(*m)) << *m;
    EXPECT_EQ(Field(g_lineByMac[*m], 3), "2.5") << g_lineByMac[*m];
  }
}

TEST_F(Recovery, AUnitOnTwoInterfacesIsReportedTwiceAndOnlyItsLastNumberResumes) {
  std::string both = Add("model=KV2R segment=both stuck=1 loader=stream");
  Version("1.30", 4);
  ASSERT_EQ(KVxR_SetRecoveryMode(1, OnRecovery), KVXR_OK);
  const uint32_t t0 = plat::TickCount();
  while (NumbersOf(both).size() < 2 && plat::TicksSince(t0) < 20000) Pump(50);
  Pump(300);
  std::vector<int32_t> numbers = NumbersOf(both);
  ASSERT_EQ(numbers.size(), 2u);
  EXPECT_LT(numbers[0], numbers[1]);
  EXPECT_EQ(Sequence(numbers[0]), "1,2:100,3");
  EXPECT_EQ(Sequence(numbers[1]), "1,2:100,3");
  std::printf("two interfaces: %d: %s / %d: %s\n", numbers[0], Sequence(numbers[0]).c_str(), numbers[1],
              Sequence(numbers[1]).c_str());
  EXPECT_EQ(KVxR_ResumeRecovery(numbers[0]), KVXR_NO_RECOVERY_DEVICE);
  ASSERT_EQ(KVxR_ResumeRecovery(numbers[1]), KVXR_OK);
  EXPECT_EQ(KVxR_ResumeRecovery(numbers[1]), KVXR_NO_RECOVERY_DEVICE);  // already being programmed
  const uint32_t t1 = plat::TickCount();
  while (Outline(numbers[1]).find(",5") == std::string::npos && plat::TicksSince(t1) < 30000) Pump(50);
  EXPECT_EQ(Outline(numbers[1]), "1,2:100,3,5:1");
  EXPECT_EQ(Sequence(numbers[0]), "1,2:100,3");  // nothing more under the stale number
  EXPECT_TRUE(WaitFor(both, "state", "online", 5000));
}

TEST_F(Recovery, UnitsThatAppearLaterOrFallBackAreFoundAgain) {
  Version("3.1", 5);
  std::string first = Add("model=KV1R segment=A stuck=1 loader=stream");
  ASSERT_EQ(KVxR_SetRecoveryMode(1, OnRecovery), KVXR_OK);
  auto done = RecoverAll({first}, 30000);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[first].event, 5);
  // Recovery mode stays on: a unit plugged in afterwards is found and recovered.
  std::string later = Add("model=KV3R segment=B stuck=1 loader=older");
  done = RecoverAll({later}, 30000);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[later].event, 5);
  EXPECT_EQ(Outline(done[later].number), "1,2:100,3,5:1");
  // The first unit falls back into its boot loader: found again under a new
  // number, and its flash already holds the image.
  ASSERT_TRUE(WaitFor(first, "state", "online", 5000));
  ASSERT_TRUE(sim_.Set(first, "stuck=1"));
  const int32_t before = NumbersOf(first).back();
  done = RecoverAll({first}, 30000);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_GT(done[first].number, before);
  EXPECT_EQ(done[first].event, 6);
  EXPECT_EQ(Outline(done[first].number), "1,2:100,3,6");
  EXPECT_TRUE(WaitFor(first, "state", "online", 5000));
  EXPECT_TRUE(WaitFor(later, "state", "online", 5000));
}

// ---- nothing bricked ----

// An update cut off half-way through a write, by a dropped connection or by
// a restart of the unit after the cut: the unit is left in its boot loader
// (its flash holds no startable firmware) and recovery mode brings it back
// with the right version. Both loader kinds.
TEST_F(Recovery, UpdatesInterruptedMidWriteAreBroughtBackByRecovery) {
  struct Unit {
    std::string mac;
    bool restart;
  };
  std::vector<Unit> units;
  for (const char* loader : {"stream", "older"}) {
    for (bool restart : {false, true}) {
      std::string seg = restart ? "B" : "A";
      units.push_back({Add(std::string("model=KV2R version=1.2 segment=") + seg + " loader=" + loader +
                           " write_fault=drop write_fault_at=app"),
                       restart});
    }
  }
  Scan();
  // The image's first write covers the old firmware's description; its own
  // description comes with the second write.
  Firmware({{0x4000, std::vector<uint8_t>(256, 0x00)},
            {0x4800, InfoChunk("4.2")},
            {0x10000, Pattern(40000, 6)}});
  g_updateEnd.clear();
  for (const Unit& u : units) {
    ASSERT_TRUE(g_byMac.count(u.mac));
    ASSERT_EQ(KVxR_UpdateFirmware(g_byMac[u.mac], OnUpdate), KVXR_OK);
  }
  ASSERT_TRUE(UpdatesEnded(units.size(), 60000));
  for (const Unit& u : units) {
    EXPECT_LT(g_updateEnd[g_byMac[u.mac]], 0) << u.mac;
    EXPECT_EQ(State(u.mac), "loader") << u.mac;
    if (u.restart) {
      ASSERT_TRUE(sim_.Command("reboot " + u.mac + " 200"));
    }
  }
  Pump(1500);
  for (const Unit& u : units) {
    auto s = sim_.Show(u.mac);
    EXPECT_EQ(s["state"], "loader") << u.mac;
    EXPECT_EQ(s["fw_info"].substr(0, 6), "status") << u.mac << " " << s["fw_info"];
    if (u.restart) {
      EXPECT_NE(s["loader_phase"], "programmer") << u.mac;  // the RAM program is gone
    }
    // The fault was passing.
    ASSERT_TRUE(sim_.Set(u.mac, "write_fault=none"));
  }
  ASSERT_EQ(KVxR_SetRecoveryMode(1, OnRecovery), KVXR_OK);
  std::set<std::string> wanted;
  for (const Unit& u : units) wanted.insert(u.mac);
  auto done = RecoverAll(wanted, 60000);
  ASSERT_EQ(done.size(), units.size());
  for (const Unit& u : units) {
    EXPECT_EQ(done[u.mac].event, 5) << u.mac;
    EXPECT_TRUE(WaitFor(u.mac, "state", "online", 5000)) << u.mac;
    EXPECT_EQ(sim_.Show(u.mac)["version"], "4.2") << u.mac;
    std::printf("%s (%s): %s\n", u.mac.c_str(), u.restart ? "restarted" : "dropped",
                Sequence(done[u.mac].number).c_str());
  }
}

// ---- product data ----

// The device log files of a unit, oldest first, as entry maps.
std::vector<std::map<std::string, std::string>> Logs(const std::string& hwid) {
  std::u16string root;
  EXPECT_TRUE(plat::CommonAppDataFolder(root));
  uint8_t id[16];
  EXPECT_TRUE(bytes::ParseHex(hwid, id, 16));
  char folder[40];
  std::snprintf(folder, sizeof folder, "%08X-%08X-%08X-%08X", bytes::GetLe32(id), bytes::GetLe32(id + 4),
                bytes::GetLe32(id + 8), bytes::GetLe32(id + 12));
  fs::path dir = fs::path(root) / "Tavrolux" / "KV-xR_update" / "Log" / folder;
  std::vector<fs::path> files;
  if (fs::exists(dir))
    for (auto& e : fs::directory_iterator(dir)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<std::map<std::string, std::string>> out;
  for (const fs::path& p : files) {
    std::ifstream f(p, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    picojson::value v;
    std::string err = picojson::parse(v, text);
    EXPECT_TRUE(err.empty()) << p << ": " << text;
    std::map<std::string, std::string> m;
    if (v.is<picojson::object>())
      for (const auto& [k, e] : v.get<picojson::object>()) m[k] = e.is<std::string>() ? e.get<std::string>() : "?";
    out.push_back(m);
  }
  return out;
}

std::vector<uint8_t> g_read;
std::atomic<int> g_reads{0};
int32_t g_readEvent = 0;
void OnProductData(int32_t, int32_t event, const uint8_t* data) {
  g_readEvent = event;
  g_read.assign(data, data + 512);
  ++g_reads;
}

TEST_F(Recovery, ProductDataIsCheckedMigratedReadAndErased) {
  std::map<std::string, std::string> unit;  // name -> MAC
  unit["valid"] = Add("model=KV1R segment=A product=valid");
  unit["old"] = Add("model=KV2R segment=A product=old serial=QS000077");
  unit["long"] = Add("model=KV3R segment=B product=old-long-serial serial=QS1234567890");
  unit["bad"] = Add("model=KV1R segment=B product=old-bad");
  unit["readarea"] = Add("model=KV2R segment=A read_fault=erro read_fault_at=product");
  unit["readold"] = Add("model=KV3R segment=A product=old read_fault=erro read_fault_at=oldconfig");
  unit["writecfg"] = Add("model=KV1R segment=B product=old write_fault=erro write_fault_at=cfgblock");
  unit["writerec"] = Add("model=KV2R segment=B product=old write_fault=erro write_fault_at=product");
  std::map<std::string, std::map<std::string, std::string>> before;
  for (const auto& [name, mac] : unit) {
    before[name] = sim_.Show(mac);
    ASSERT_TRUE(Logs(before[name]["hwid"]).empty()) << name;
  }
  Scan();
  Version("0.200", 7);
  g_updateEnd.clear();
  for (const auto& [name, mac] : unit) {
    ASSERT_TRUE(g_byMac.count(mac)) << name;
    ASSERT_EQ(KVxR_UpdateFirmware(g_byMac[mac], OnUpdate), 0) << name;
  }
  ASSERT_TRUE(UpdatesEnded(unit.size(), 60000));
  auto result = [&](const std::string& name) { return g_updateEnd[g_byMac[unit[name]]]; };
  auto log = [&](const std::string& name) {
    auto logs = Logs(before[name]["hwid"]);
    EXPECT_EQ(logs.size(), 1u) << name;
    return logs.empty() ? std::map<std::string, std::string>() : logs.back();
  };
  auto show = [&](const std::string& name) { return sim_.Show(unit[name]); };

  // A valid record is left untouched.
  EXPECT_EQ(result("valid"), 1);
  auto l = log("valid");
  EXPECT_EQ(l.size(), 2u);
  EXPECT_EQ(l["calibration-data"], before["valid"]["pd_area"].substr(0, 64));
  EXPECT_EQ(l["product-data"], before["valid"]["pd_area"].substr(64));
  EXPECT_EQ(show("valid")["pd_area"], before["valid"]["pd_area"]);

  // No record: migrated from the old configuration block.
  for (const char* name : {"old", "long"}) {
    EXPECT_EQ(result(name), 1) << name;
    l = log(name);
    EXPECT_EQ(l.size(), 5u) << name;
    EXPECT_EQ(l["calibration-data"], before[name]["pd_area"].substr(0, 64));
    EXPECT_EQ(l["product-data"], before[name]["pd_area"].substr(64));
    EXPECT_EQ(l["obsolete-config-area"].size(), 512u);
    EXPECT_EQ(l["obsolete-config-area"].substr(0, 128), before[name]["old_block"]);
    EXPECT_EQ(l["migrated-config-area"], show(name)["cfg_block"]);
    EXPECT_EQ(l["migrated-product-data"], show(name)["pd_area"].substr(64));
    EXPECT_EQ(show(name)["pd_record"], "valid") << name;
    EXPECT_EQ(show(name)["pd_area"].substr(0, 64), before[name]["pd_area"].substr(0, 64));  // calibration kept
  }
  // The record's serial item: the old block's serial, at most 24 characters.
  const std::string rec = show("long")["pd_area"].substr(64);
  const std::string serialItem = rec.substr(2 * (20 + 3 + 10 + 8), 4);
  EXPECT_EQ(serialItem, "0318");  // tag 3, 24 bytes

  // An old block that fails its check: -26 before anything is written.
  EXPECT_EQ(result("bad"), KVXR_UPDATE_PRODUCT_DATA_CHECK);
  l = log("bad");
  EXPECT_EQ(l["obsolete-config-area"], before["bad"]["old_block"]);
  EXPECT_EQ(l.count("migrated-product-data"), 0u);
  EXPECT_EQ(show("bad")["writes"], "0");
  EXPECT_EQ(show("bad")["fw_info"], before["bad"]["fw_info"]);
  EXPECT_EQ(show("bad")["state"], "loader");

  // Read errors: -27.
  EXPECT_EQ(result("readarea"), KVXR_UPDATE_PRODUCT_DATA_READ);
  EXPECT_EQ(log("readarea")["product-data"], "read-error");
  EXPECT_EQ(result("readold"), KVXR_UPDATE_PRODUCT_DATA_READ);
  EXPECT_EQ(log("readold")["obsolete-config-area"], "read-error");
  // Write errors: -28.
  EXPECT_EQ(result("writecfg"), KVXR_UPDATE_PRODUCT_DATA_MIGRATION);
  EXPECT_EQ(log("writecfg")["migrated-config-area"], "write-error");
  EXPECT_EQ(log("writecfg").count("migrated-product-data"), 0u);
  EXPECT_EQ(result("writerec"), KVXR_UPDATE_PRODUCT_DATA_MIGRATION);
  EXPECT_EQ(log("writerec")["migrated-product-data"], "write-error");
  for (const char* name : {"readarea", "readold", "writecfg", "writerec"}) {
    EXPECT_EQ(show(name)["state"], "loader") << name;
    EXPECT_EQ(show(name)["fw_info"], before[name]["fw_info"]) << name;  // nothing programmed
  }

  // The debug read gives the 512 bytes; the erase makes the record invalid and
  // the next update migrates again.
  ASSERT_TRUE(WaitFor(unit["valid"], "state", "online", 5000));
  const int32_t h = g_byMac[unit["valid"]];
  g_reads = 0;
  ASSERT_EQ(KVxR_DbgReadProductData(h, OnProductData), KVXR_OK);
  const uint32_t t0 = plat::TickCount();
  while (g_reads.load() == 0 && plat::TicksSince(t0) < 30000) Pump(50);
  ASSERT_EQ(g_reads.load(), 1);
  EXPECT_EQ(g_readEvent, 4);
  EXPECT_EQ(bytes::HexText(g_read.data(), g_read.size()), show("valid")["pd_area"]);
  ASSERT_TRUE(WaitFor(unit["valid"], "state", "online", 5000));
  ASSERT_EQ(KVxR_DbgEraseProductData(h), KVXR_OK);
  ASSERT_TRUE(WaitFor(unit["valid"], "pd_record", "invalid", 30000));
  ASSERT_TRUE(WaitFor(unit["valid"], "state", "online", 5000));
  plat::SleepMs(1000);  // the next log file gets a name of its own
  g_updateEnd.clear();
  ASSERT_EQ(KVxR_UpdateFirmware(h, OnUpdate), KVXR_OK);
  ASSERT_TRUE(UpdatesEnded(1, 30000));
  EXPECT_EQ(g_updateEnd[h], 0);  // migrated (1), then nothing to program (0)
  auto logs = Logs(before["valid"]["hwid"]);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs.back().size(), 5u);
  EXPECT_EQ(logs.back()["migrated-product-data"], sim_.Show(unit["valid"])["pd_area"].substr(64));
  EXPECT_EQ(sim_.Show(unit["valid"])["pd_record"], "valid");
}

TEST_F(Recovery, FirmwareBeforeVersion0200SkipsTheProductDataStep) {
  std::string mac = Add("model=KV1R segment=A product=old");
  const std::string hwid = sim_.Show(mac)["hwid"];
  Scan();
  Version("0.199", 8);
  g_updateEnd.clear();
  ASSERT_EQ(KVxR_UpdateFirmware(g_byMac[mac], OnUpdate), KVXR_OK);
  ASSERT_TRUE(UpdatesEnded(1, 30000));
  EXPECT_EQ(g_updateEnd[g_byMac[mac]], 1);
  auto logs = Logs(hwid);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_TRUE(logs[0].empty());
  EXPECT_EQ(sim_.Show(mac)["pd_record"], "invalid");  // untouched
  EXPECT_EQ(sim_.Show(mac)["reads"], "0");
}

}  // namespace
}  // namespace qs::test
