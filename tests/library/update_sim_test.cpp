// Firmware updates through the real library against the simulator's devices
// in a test network (both builds: the DLL under Wine with a window): both
// boot-loader kinds, a second update of the same device, a partial write,
// the device log, every device fault the simulator can show with the status
// it must give and within its time, and an abort.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "library/KV-xR_update.h"
#include "platform/appdata.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "runtime/bytes.h"
#include "tests/library/test_host.h"
#include "tests/support/sim_client.h"

namespace qs::test {
namespace {

plat::SocketsLibrary g_sockets;
std::map<std::string, std::pair<int32_t, std::string>> g_byMac;  // MAC -> handle, line
std::atomic<bool> g_scanDone{false};

void OnDevice(int32_t h, const KVxR_WCHAR* line) {
  std::string s;
  for (; *line; ++line) s.push_back(static_cast<char>(*line));
  size_t a = s.find('|'), b = s.find('|', a + 1), c = s.find('|', b + 1);
  std::string mac = s.substr(b + 1, c - b - 1);
  for (char& ch : mac)
    if (ch == ':') ch = '-';
  g_byMac[mac] = {h, s};
}
void OnScanDone() { g_scanDone = true; }

struct Event {
  int32_t device, kind, value;
  uint32_t at;
};
std::vector<Event> g_events;
std::atomic<bool> g_ended{false};
void OnUpdate(int32_t device, int32_t kind, int32_t value) {
  g_events.push_back(Event{device, kind, value, plat::TickCount()});
  if (kind == 4) g_ended = true;
}

std::string Field(const std::string& line, int n) {
  size_t start = 0;
  for (int i = 0; i < n; ++i) start = line.find('|', start) + 1;
  return line.substr(start, line.find('|', start) - start);
}

std::vector<uint8_t> Filled(size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

// Intel HEX: fw.info at 0x4000 and a second chunk at 0x10000.
std::string HexFile(const char* version, const std::vector<uint8_t>& second) {
  std::string info = std::string("fw.info{\"model\":\"KV-xR\",\"version\":\"") + version + "\"}";
  std::vector<uint8_t> first(info.begin(), info.end());
  first.push_back(0);
  first.resize(256, 0x5A);
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
  for (auto chunk : {std::make_pair(0x4000u, static_cast<const std::vector<uint8_t>*>(&first)), std::make_pair(0x10000u, &second)}) {
    uint8_t hi[2] = {static_cast<uint8_t>(chunk.first >> 24), static_cast<uint8_t>(chunk.first >> 16)};
    line(4, 0, hi, 2);
    for (size_t i = 0; i < chunk.second->size(); i += 16) {
      size_t n = chunk.second->size() - i < 16 ? chunk.second->size() - i : 16;
      line(0, static_cast<uint16_t>(chunk.first + i), chunk.second->data() + i, n);
    }
  }
  line(1, 0, nullptr, 0);
  return out;
}

// Files both the simulator (a Linux program) and the library can read.
std::string g_dir;
std::string WriteFile(const std::string& name, const std::string& text) {
  std::string path = g_dir + "/" + name;
#ifdef _WIN32
  std::ofstream("Z:" + path, std::ios::binary) << text;
#else
  std::ofstream(path, std::ios::binary) << text;
#endif
  return path;
}
// The same path as the library under test sees it.
std::u16string LibraryPath(const std::string& path) {
#ifdef _WIN32
  std::string p = "Z:" + path;
#else
  std::string p = path;
#endif
  return std::u16string(p.begin(), p.end());
}

class UpdateSim : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(OpenHost());
    const char* base = std::getenv("QS_UPDATE_TEST_DIR");
    g_dir = base ? base : "/tmp";
    g_dir += "/qs-update-sim." + std::to_string(plat::TickCount());
#ifdef _WIN32
    ASSERT_TRUE(plat::CreateFolders(plat::AnsiToWide("Z:" + g_dir)));
#else
    ASSERT_EQ(std::system(("mkdir -p " + g_dir).c_str()), 0);
    ASSERT_EQ(setenv("QS_COMMON_APPDATA", (g_dir + "/appdata").c_str(), 1), 0);
#endif
    oldFile_ = WriteFile("old.hex", HexFile("1.100", Filled(20000, 1)));
    newFile_ = WriteFile("new.hex", HexFile("1.250", Filled(20000, 2)));
    // The new firmware's first chunk with the old second one.
    mixedFile_ = WriteFile("mixed.hex", HexFile("1.250", Filled(20000, 1)));
  }

  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(LibraryPath(g_dir)), ec);
  }

  void SetUp() override {
    ASSERT_TRUE(TestNet::Available());
    ASSERT_TRUE(sim_.Connect());
    ASSERT_TRUE(sim_.Reset());
    std::u16string p = LibraryPath(newFile_);
    KVxR_WCHAR v[16];
    ASSERT_EQ(KVxR_SetFirmwareFile(reinterpret_cast<const KVxR_WCHAR*>(p.c_str()), v, 16), KVXR_OK);
  }

  // Adds a device whose flash holds the old firmware; its handle from a scan.
  int32_t Device(const std::string& settings, std::string* mac) {
    std::string file = settings.find("fw_file=") == std::string::npos ? " fw_file=" + oldFile_ : "";
    *mac = sim_.AddDevice("model=KV2R segment=A loader_delay=200 app_delay=200" + file + " " + settings);
    EXPECT_FALSE(mac->empty());
    return Scan(*mac);
  }
  int32_t Scan(const std::string& mac) {
    g_byMac.clear();
    g_scanDone = false;
    EXPECT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnScanDone), KVXR_OK);
    Pump(9000, &g_scanDone);
    Pump(1200);
    return g_byMac.count(mac) ? g_byMac[mac].first : 0;
  }

  // The update's final status (999: it did not end within the budget).
  int32_t RunUpdate(int32_t handle, uint32_t budgetMs, uint32_t* spent = nullptr) {
    g_events.clear();
    g_ended = false;
    const uint32_t t0 = plat::TickCount();
    int32_t st = KVxR_UpdateFirmware(handle, OnUpdate);
    EXPECT_EQ(st, 0);
    if (st != 0) return st;
    Pump(budgetMs, &g_ended);
    if (spent) *spent = plat::TicksSince(t0);
    if (!g_ended) return 999;
    // Nothing after the final record.
    Pump(300);
    EXPECT_EQ(g_events.back().kind, 4);
    for (const Event& e : g_events) EXPECT_EQ(e.device, handle);
    return g_events.back().value;
  }

  std::vector<std::string> Fw(const std::string& kind) {
    std::vector<std::string> lines;
    sim_.Command("fw " + kind, &lines);
    return lines;
  }

  SimClient sim_;
  static std::string oldFile_, newFile_, mixedFile_;
};
std::string UpdateSim::oldFile_, UpdateSim::newFile_, UpdateSim::mixedFile_;

TEST_F(UpdateSim, StreamingLoaderTakesOnlyTheChangedChunkThenASecondUpdateWritesNothing) {
  std::string mac;
  int32_t h = Device("loader=stream fw_file=" + mixedFile_, &mac);
  ASSERT_NE(h, 0);
  uint32_t spent = 0;
  EXPECT_EQ(RunUpdate(h, 90000, &spent), 1);
  auto show = sim_.Show(mac);
  EXPECT_EQ(show["ram_source"], "stream");
  EXPECT_EQ(show["ram_size"], "107404");
  EXPECT_EQ(show["writes"], "1");              // the fw.info chunk was already there
  EXPECT_EQ(show["bytes_written"], "20000");  // the second chunk only
  EXPECT_EQ(show["fw_info"], "1.250");
  std::vector<std::string> writes = Fw("WRTE");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_NE(writes[0].find("address=0x010000 size=20000"), std::string::npos) << writes[0];
  // The phases as the caller sees them.
  uint32_t t0 = g_events.front().at, found = 0, last3 = 0;
  int countdown = 0;
  for (const Event& e : g_events) {
    if (e.kind == 1 && e.value > 0) ++countdown;
    if (e.kind == 3 && !found) found = e.at - t0;
    if (e.kind == 3) last3 = e.at - t0;
  }
  EXPECT_EQ(g_events.front().kind, 1);
  EXPECT_EQ(g_events.front().value, 0);
  std::printf("stream loader: %u ms in all; boot loader answered after %u ms (%d countdown records); "
              "last progress at %u ms\n", spent, found, countdown, last3);

  // Back at the new version, as a scan sees it.
  h = Scan(mac);
  ASSERT_NE(h, 0);
  EXPECT_EQ(Field(g_byMac[mac].second, 3), "1.250");

  // The same device again, in the same process: it answers, nothing to write.
  EXPECT_EQ(RunUpdate(h, 90000, &spent), 0);
  show = sim_.Show(mac);
  EXPECT_EQ(show["writes"], "1");
  EXPECT_EQ(show["app_starts"], "2");
  std::printf("second update (nothing to write): %u ms\n", spent);
  bool saw3 = false;
  for (const Event& e : g_events) saw3 = saw3 || (e.kind == 3 && e.value == 0);
  EXPECT_TRUE(saw3);

  // One log file per firmware job, in the device's folder.
  uint8_t id[16];
  ASSERT_TRUE(bytes::ParseHex(show["hwid"], id, 16));
  char folder[40];
  std::snprintf(folder, sizeof folder, "%08X-%08X-%08X-%08X", bytes::GetLe32(id), bytes::GetLe32(id + 4),
                bytes::GetLe32(id + 8), bytes::GetLe32(id + 12));
  std::u16string root;
  ASSERT_TRUE(plat::CommonAppDataFolder(root));
  std::u16string dir = root + u"/Tavrolux/KV-xR_update/Log/" + plat::AnsiToWide(folder);
  size_t files = 0;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(std::filesystem::path(dir), ec)) {
    ++files;
    std::ifstream f(e.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // a valid product record is only looked at: read, logged, never migrated
    EXPECT_NE(text.find("\"product-data\":\""), std::string::npos) << text;
    EXPECT_EQ(text.find("migrated"), std::string::npos) << text;
  }
  EXPECT_FALSE(ec) << plat::WideToAnsi(dir);
  EXPECT_GE(files, 1u);
  EXPECT_LE(files, 2u);  // two jobs in the same second share a name
  std::printf("device log folder: %s (%zu files)\n", plat::WideToAnsi(dir).c_str(), files);
}

TEST_F(UpdateSim, OlderLoaderTakesTheUploadAndIsUpdated) {
  std::string mac;
  int32_t h = Device("loader=older", &mac);
  ASSERT_NE(h, 0);
  uint32_t spent = 0;
  EXPECT_EQ(RunUpdate(h, 90000, &spent), 1);
  auto show = sim_.Show(mac);
  EXPECT_EQ(show["ram_source"], "older");
  EXPECT_EQ(show["boot_messages"] != "0", true);
  EXPECT_EQ(show["ram_size"], "107404");
  EXPECT_EQ(show["fw_info"], "1.250");
  std::printf("older loader: %u ms in all\n", spent);
  h = Scan(mac);
  ASSERT_NE(h, 0);
  EXPECT_EQ(Field(g_byMac[mac].second, 3), "1.250");
}

TEST_F(UpdateSim, AnOlderLoaderThatLosesOneAcknowledgementIsStillServed) {
  std::string mac;
  int32_t h = Device("loader=older wp_fault=lose-ack", &mac);
  ASSERT_NE(h, 0);
  EXPECT_EQ(RunUpdate(h, 90000), 1);
  EXPECT_EQ(sim_.Show(mac)["ram_size"], "107404");
  EXPECT_EQ(sim_.Show(mac)["ram_source"], "older");
}

// Each fault of the device with the status the caller gets, and the time it
// takes. The devices are found by one scan and updated one after the other.
TEST_F(UpdateSim, DeviceFaultsGiveTheirStatusWithinTheirTime) {
  struct Case {
    const char* settings;
    int32_t status;
    uint32_t maxMs;
    std::string mac;
  } cases[] = {
      {"fw_challenge=none", KVXR_UPDATE_NO_CHALLENGE, 8000, ""},
      {"fw_challenge=malformed", KVXR_UPDATE_NO_CHALLENGE, 8000, ""},
      {"fw_challenge=foreign", KVXR_UPDATE_NO_CHALLENGE, 8000, ""},
      {"tcp=refuse", KVXR_UPDATE_NO_CONNECTION, 15000, ""},
      // the product-data check reads first: a connection closed at once fails that read
      {"tcp=close", KVXR_UPDATE_PRODUCT_DATA_READ, 15000, ""},
      {"dgst_fault=badlen", KVXR_UPDATE_BAD_DIGEST, 15000, ""},
      {"dgst_fault=badtag", KVXR_UPDATE_BAD_DIGEST, 15000, ""},
      {"dgst_fault=erro", KVXR_UPDATE_BAD_DIGEST, 15000, ""},
      {"write_fault=erro", KVXR_UPDATE_DEVICE_ERROR, 15000, ""},
      {"write_fault=drop", KVXR_UPDATE_SEND_FAILED, 15000, ""},
      {"write_fault=nostick", KVXR_UPDATE_STILL_DIFFERS, 15000, ""},
      // Progress that stops coming while a chunk is written: the write's own bound.
      {"prgs_delay=12000 prgs_step=4096", KVXR_UPDATE_SEND_FAILED, 15000, ""},
      // the stream job's 15 s wait for the digest and the update job's 15 s
      // without a word end together: either names the silence
      {"dgst_fault=silent", KVXR_UPDATE_STREAM_SILENT, 30000, ""},
  };
  for (Case& c : cases) {
    c.mac = sim_.AddDevice(std::string("model=KV2R segment=A loader_delay=200 app_delay=200 fw_file=") + oldFile_ +
                           " " + c.settings);
    ASSERT_FALSE(c.mac.empty()) << c.settings;
  }
  Scan(cases[0].mac);
  for (Case& c : cases) {
    ASSERT_TRUE(g_byMac.count(c.mac)) << c.settings;
    uint32_t spent = 0;
    int32_t got = RunUpdate(g_byMac[c.mac].first, c.maxMs + 5000, &spent);
    if (c.status == KVXR_UPDATE_STREAM_SILENT && got == KVXR_UPDATE_BAD_DIGEST) got = KVXR_UPDATE_STREAM_SILENT;
    EXPECT_EQ(got, c.status) << c.settings;
    EXPECT_LT(spent, c.maxMs) << c.settings;
    EXPECT_EQ(sim_.Show(c.mac)["app_starts"], "0") << c.settings;  // never told to start a firmware that is not right
    std::printf("%-24s -> %d in %u ms\n", c.settings, c.status, spent);
  }
}

TEST_F(UpdateSim, AnAbortedJobIsNeverHeardOfAgain) {
  std::string mac;
  int32_t h = Device("loader=stream", &mac);
  ASSERT_NE(h, 0);
  EXPECT_EQ(KVxR_AbortUpdate(h), KVXR_NO_RUNNING_UPDATE);
  g_events.clear();
  ASSERT_EQ(KVxR_UpdateFirmware(h, OnUpdate), KVXR_OK);
  Pump(500);
  EXPECT_EQ(KVxR_AbortUpdate(h), KVXR_OK);
  const size_t seen = g_events.size();
  EXPECT_EQ(KVxR_AbortUpdate(h), KVXR_NO_RUNNING_UPDATE);
  // The job goes on with the device to its end, unheard.
  const uint32_t t0 = plat::TickCount();
  while (plat::TicksSince(t0) < 30000 && sim_.Show(mac)["app_starts"] != "1") Pump(500);
  EXPECT_EQ(sim_.Show(mac)["app_starts"], "1");
  Pump(500);
  EXPECT_EQ(g_events.size(), seen);
  EXPECT_EQ(KVxR_AbortUpdate(987654321), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_UpdateFirmware(987654321, OnUpdate), KVXR_UNKNOWN_DEVICE);
}

#if QS_LONG_TESTS
// About sixty kind-1 records counting down, then -18.
TEST_F(UpdateSim, ADeviceThatNeverComesBackEndsWithMinus18) {
  std::string mac;
  int32_t h = Device("loader=never", &mac);
  ASSERT_NE(h, 0);
  uint32_t spent = 0;
  EXPECT_EQ(RunUpdate(h, 75000, &spent), KVXR_UPDATE_NO_BOOT_LOADER);
  EXPECT_LT(spent, 64000u);
  int countdown = 0;
  for (const Event& e : g_events) {
    if (e.kind == 1 && e.value > 0) ++countdown;
  }
  EXPECT_GE(countdown, 55);
  EXPECT_LE(countdown, 60);
}
#endif

}  // namespace
}  // namespace qs::test
