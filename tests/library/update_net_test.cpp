// Firmware updates through the exports, end to end in a test network: the
// simulator's device is found by a scan, and a boot loader plays the device
// after its restart (tests/support/fake_loader.h, Linux). Both boot-loader
// kinds, a second update of the same device, partial writes, the device log,
// the faults a device can show, and an abort.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "firmware/programmer_ex.h"
#include "firmware/streamer.h"
#include "firmware/update_status.h"
#include "library/KV-xR_update.h"
#include "library/recovery_listener.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/bytes.h"
#include "tests/library/test_host.h"
#include "tests/support/fake_loader.h"
#include "tests/support/memory_image.h"
#include "tests/support/sim_client.h"

namespace qs::test {
namespace {

namespace fs = std::filesystem;

plat::SocketsLibrary g_sockets;
std::map<std::string, int32_t> g_byMac;
std::atomic<bool> g_scanDone{false};

void OnDevice(int32_t h, const KVxR_WCHAR* line) {
  std::string s;
  for (; *line; ++line) s.push_back(static_cast<char>(*line));
  size_t a = s.find('|'), b = s.find('|', a + 1), c = s.find('|', b + 1);
  std::string mac = s.substr(b + 1, c - b - 1);
  for (char& ch : mac)
    if (ch == ':') ch = '-';
  g_byMac[mac] = h;
}
void OnScanDone() { g_scanDone = true; }

struct Event {
  int32_t kind, value;
  uint32_t at;
};
std::vector<Event> g_events;
int32_t g_device = 0;
std::atomic<bool> g_ended{false};
void OnUpdate(int32_t device, int32_t kind, int32_t value) {
  g_device = device;
  g_events.push_back(Event{kind, value, plat::TickCount()});
  if (kind == 4) g_ended = true;
}

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

std::vector<uint8_t> InfoChunk(const char* version) {
  std::string info = std::string("fw.info{\"model\":\"KV-xR\",\"version\":\"") + version + "\"}";
  std::vector<uint8_t> c(info.begin(), info.end());
  c.push_back(0);
  c.resize(256, 0x5A);
  return c;
}

class Update : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(OpenHost());
    logRoot_ = fs::temp_directory_path() / ("qs-update-log." + std::to_string(getpid()));
    fs::create_directories(logRoot_);
    ASSERT_EQ(setenv("QS_COMMON_APPDATA", logRoot_.string().c_str(), 1), 0);
  }
  static void TearDownTestSuite() { fs::remove_all(logRoot_); }

  void SetUp() override {
    ASSERT_TRUE(TestNet::Available());
    ASSERT_TRUE(sim_.Connect());
    ASSERT_TRUE(sim_.Reset());
    g_events.clear();
    g_ended = false;
  }
  void TearDown() override { loader_.Stop(); }

  // A simulated device found by a scan, and its boot loader.
  int32_t Device(LoaderSettings s, const std::string& settings = "model=KV2R segment=A") {
    std::string mac = sim_.AddDevice(settings);
    EXPECT_FALSE(mac.empty());
    auto show = sim_.Show(mac);
    s.address = ParseAddress(show["ip"]);
    EXPECT_TRUE(bytes::ParseHex(show["hwid"], s.id, 16));
    EXPECT_TRUE(bytes::ParseMac(mac, s.mac));
    std::memcpy(id_, s.id, 16);
    g_byMac.clear();
    g_scanDone = false;
    EXPECT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnScanDone), 0);
    Pump(9000, &g_scanDone);
    Pump(1200);
    EXPECT_TRUE(loader_.Start(s));
    return g_byMac.count(mac) ? g_byMac[mac] : 0;
  }

  // The firmware file: fw.info at 0x4000 and a second chunk.
  void Firmware(const std::vector<uint8_t>& second, const char* version = "1.250") {
    fs::path p = logRoot_ / "fw.hex";
    std::ofstream(p) << Hex({{0x4000, InfoChunk(version)}, {0x10000, second}});
    std::u16string w;
    for (char c : p.string()) w.push_back(static_cast<char16_t>(c));
    KVxR_WCHAR v[16];
    ASSERT_EQ(KVxR_SetFirmwareFile(reinterpret_cast<const KVxR_WCHAR*>(w.c_str()), v, 16), 0);
  }

  int32_t RunUpdate(int32_t handle, uint32_t budgetMs = 90000) {
    g_events.clear();
    g_ended = false;
    int32_t st = KVxR_UpdateFirmware(handle, OnUpdate);
    EXPECT_EQ(st, 0);
    if (st != 0) return st;
    Pump(budgetMs, &g_ended);
    return g_ended ? g_events.back().value : 998;
  }

  std::vector<fs::path> LogFiles() {
    std::vector<fs::path> out;
    fs::path dir = logRoot_ / "Tavrolux" / "KV-xR_update" / "Log";
    if (!fs::exists(dir)) return out;
    for (auto& e : fs::recursive_directory_iterator(dir))
      if (e.is_regular_file()) out.push_back(e.path());
    return out;
  }

  SimClient sim_;
  FakeLoader loader_;
  uint8_t id_[16] = {};
  static fs::path logRoot_;
};
fs::path Update::logRoot_;

TEST_F(Update, StreamingLoaderIsUpdatedOnceAndASecondUpdateWritesNothing) {
  LoaderSettings s;
  int32_t h = Device(s);
  ASSERT_NE(h, 0);
  std::vector<uint8_t> second = Filled(9000, 11);
  Firmware(second);
  loader_.flash().Put(0x4000, InfoChunk("1.250"));  // only the second chunk differs

  const uint32_t t0 = plat::TickCount();
  EXPECT_EQ(RunUpdate(h), fw::kUpdateWritten);
  const uint32_t spent = plat::TicksSince(t0);
  EXPECT_EQ(g_device, h);
  ASSERT_GE(g_events.size(), 4u);
  EXPECT_EQ(g_events.front().kind, 1);
  EXPECT_EQ(g_events.front().value, 0);
  auto w = loader_.flash().writes();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].address, 0x10000u);
  EXPECT_EQ(loader_.flash().Get(0x10000, 9000), second);
  EXPECT_EQ(loader_.flash().applied(), 1);
  EXPECT_TRUE(loader_.programComplete());
  std::vector<uint8_t> program = RamProgramFile(QS_RAM_PROGRAM_FILE);
  ASSERT_EQ(program.size(), 107404u);
  EXPECT_EQ(loader_.program(), program);  // 210 blocks, the last of 396 bytes
  // Phases, from the callbacks: preparing until the first kind-3 record.
  uint32_t programming = 0;
  for (const Event& e : g_events) {
    if (e.kind == 3 && !programming) programming = e.at - t0;
  }
  std::printf("update: %u ms in all, %u ms until the boot loader answered\n", spent, programming);
  int last = 0;
  for (const Event& e : g_events) {
    if (e.kind == 3) {
      EXPECT_GE(e.value, 0);
      EXPECT_LE(e.value, 100);
    }
    EXPECT_GE(e.kind, last == 4 ? 5 : 0);  // nothing after kind 4
    last = e.kind;
  }

  // The same device again, in the same process: it answers, nothing to write.
  EXPECT_EQ(RunUpdate(h), fw::kUpdateAlreadyCurrent);
  EXPECT_EQ(loader_.flash().writes().size(), 1u);
  EXPECT_EQ(loader_.flash().applied(), 2);
  EXPECT_EQ(loader_.restarts(), 2);

  // One log file per firmware job, in the device's folder.
  std::vector<fs::path> logs = LogFiles();
  ASSERT_FALSE(logs.empty());
  char folder[40];
  std::snprintf(folder, sizeof folder, "%08X-%08X-%08X-%08X", bytes::GetLe32(id_), bytes::GetLe32(id_ + 4),
                bytes::GetLe32(id_ + 8), bytes::GetLe32(id_ + 12));
  for (const fs::path& p : logs) {
    EXPECT_EQ(p.parent_path().filename().string(), folder);
    std::ifstream f(p);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "{}");
  }
  // Every shared service stopped with its last user.
  plat::SleepMs(200);
  EXPECT_EQ(fw::StreamerCount(), 0u);
  EXPECT_EQ(kvxr::RecoveryListenerCount(), 0u);
}

TEST_F(Update, OlderLoaderTakesTheUploadAndIsUpdated) {
  LoaderSettings s;
  s.older = true;
  int32_t h = Device(s);
  ASSERT_NE(h, 0);
  std::vector<uint8_t> second = Filled(30000, 12);
  Firmware(second);
  EXPECT_EQ(RunUpdate(h), fw::kUpdateWritten);
  EXPECT_EQ(loader_.flash().Get(0x10000, 30000), second);
  EXPECT_EQ(loader_.uploadBlocks(), 210);
  EXPECT_EQ(loader_.program(), RamProgramFile(QS_RAM_PROGRAM_FILE));
  EXPECT_NE(loader_.offered(), 0u);
  EXPECT_EQ(loader_.offered() & 0xFFFFF000u, TestNet::PcA() & 0xFFFFF000u);  // in the adapter's subnet
}

TEST_F(Update, AbortedJobIsNeverHeardOfAgain) {
  LoaderSettings s;
  int32_t h = Device(s);
  ASSERT_NE(h, 0);
  Firmware(Filled(5000, 13));
  EXPECT_EQ(KVxR_AbortUpdate(h), -103);  // nothing running yet
  ASSERT_EQ(KVxR_UpdateFirmware(h, OnUpdate), 0);
  Pump(300);
  EXPECT_EQ(KVxR_AbortUpdate(h), 0);
  const size_t seen = g_events.size();
  EXPECT_EQ(KVxR_AbortUpdate(h), -103);
  Pump(8000);  // the job runs on with the device, unheard
  EXPECT_EQ(g_events.size(), seen);
  EXPECT_EQ(KVxR_AbortUpdate(123456789), -100);
}

TEST_F(Update, ADeviceWithoutAChallengeEndsWithMinus7) {
  LoaderSettings s;
  s.noChallenge = true;
  int32_t h = Device(s);
  ASSERT_NE(h, 0);
  Firmware(Filled(100, 14));
  const uint32_t t0 = plat::TickCount();
  EXPECT_EQ(RunUpdate(h, 10000), fw::kUpdateNoChallenge);
  uint32_t spent = plat::TicksSince(t0);
  EXPECT_GE(spent, fw::kChallengeWaitMs - 100);
  EXPECT_LT(spent, fw::kChallengeWaitMs + 1500);
  EXPECT_EQ(loader_.rebootRequests(), 1);
}

#if QS_LONG_TESTS
// About sixty kind-1 records counting down, then -18.
TEST_F(Update, ABootLoaderThatNeverAnswersTheRecoveryScanEndsWithMinus18) {
  LoaderSettings s;
  s.noAnnounce = true;
  int32_t h = Device(s);
  ASSERT_NE(h, 0);
  Firmware(Filled(100, 15));
  const uint32_t t0 = plat::TickCount();
  EXPECT_EQ(RunUpdate(h, 75000), fw::kUpdateNoRecoveryAnswer);
  uint32_t spent = plat::TicksSince(t0);
  EXPECT_LT(spent, fw::kDeviceWaitMs + 3000);
  int countdown = 0;
  for (const Event& e : g_events) {
    if (e.kind == 1 && e.value > 0) ++countdown;
  }
  EXPECT_GE(countdown, 55);
  EXPECT_LE(countdown, 60);
  EXPECT_LE(g_events[g_events.size() - 2].value, 1);  // the last second
}
#endif

TEST_F(Update, ExportsRefuseWhatTheyCannotStart) {
  EXPECT_EQ(KVxR_UpdateFirmware(987654321, OnUpdate), -100);
  EXPECT_EQ(KVxR_AbortUpdate(987654321), -100);
}

}  // namespace
}  // namespace qs::test
