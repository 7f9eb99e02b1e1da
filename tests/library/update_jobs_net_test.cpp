// The update job with the library linked in, against the simulator's devices:
// the RAM program the device assembled is the library's own, the shared
// services stop with their last user, and the host window's end stops a
// running update at once, with no callback after it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "firmware/streamer.h"
#include "library/KV-xR_update.h"
#include "library/recovery_listener.h"
#include "library/update_registry.h"
#include "platform/sha1.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/bytes.h"
#include "runtime/thread.h"
#include "tests/library/test_host.h"
#include "tests/support/sim_client.h"

namespace qs::test {
namespace {

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

std::vector<std::pair<int32_t, int32_t>> g_events;  // kind, value
std::atomic<bool> g_ended{false};
void OnUpdate(int32_t, int32_t kind, int32_t value) {
  g_events.emplace_back(kind, value);
  if (kind == 4) g_ended = true;
}

std::string InfoHex(const char* version) {
  std::string info = std::string("fw.info{\"model\":\"KV-xR\",\"version\":\"") + version + "\"}";
  std::vector<uint8_t> c(info.begin(), info.end());
  c.push_back(0);
  std::string out = ":020000040000FA\n";
  for (size_t i = 0; i < c.size(); i += 16) {
    size_t n = c.size() - i < 16 ? c.size() - i : 16;
    uint16_t a = static_cast<uint16_t>(0x4000 + i);
    std::vector<uint8_t> b{static_cast<uint8_t>(n), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), 0};
    b.insert(b.end(), c.begin() + static_cast<long>(i), c.begin() + static_cast<long>(i + n));
    uint8_t sum = 0;
    for (uint8_t v : b) sum = static_cast<uint8_t>(sum + v);
    b.push_back(static_cast<uint8_t>(-sum));
    out += ":" + bytes::HexText(b.data(), b.size()) + "\n";
  }
  return out + ":00000001FF\n";
}

class UpdateJobs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(OpenHost()); }
  void SetUp() override {
    ASSERT_TRUE(TestNet::Available());
    ASSERT_TRUE(sim_.Connect());
    ASSERT_TRUE(sim_.Reset());
    std::string path = "/tmp/qs-update-jobs." + std::to_string(plat::TickCount()) + ".hex";
    std::ofstream(path) << InfoHex("1.300");
    std::u16string w(path.begin(), path.end());
    KVxR_WCHAR v[16];
    ASSERT_EQ(KVxR_SetFirmwareFile(reinterpret_cast<const KVxR_WCHAR*>(w.c_str()), v, 16), KVXR_OK);
    std::remove(path.c_str());
    g_events.clear();
    g_ended = false;
  }
  int32_t Device(const std::string& settings, std::string* mac) {
    *mac = sim_.AddDevice("model=KV3R segment=B loader_delay=200 app_delay=200 fw_version=1.100 " + settings);
    EXPECT_FALSE(mac->empty());
    g_byMac.clear();
    g_scanDone = false;
    EXPECT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnScanDone), KVXR_OK);
    Pump(9000, &g_scanDone);
    Pump(1200);
    return g_byMac.count(*mac) ? g_byMac[*mac] : 0;
  }
  SimClient sim_;
};

TEST_F(UpdateJobs, TheDeviceAssemblesTheLibrarysProgramAndEveryServiceStopsAfterwards) {
  std::string mac;
  int32_t h = Device("loader=stream", &mac);
  ASSERT_NE(h, 0);
  ASSERT_EQ(KVxR_UpdateFirmware(h, OnUpdate), KVXR_OK);
  Pump(30000, &g_ended);
  ASSERT_TRUE(g_ended);
  EXPECT_EQ(g_events.back().second, 1);
  std::ifstream f(QS_RAM_PROGRAM_FILE, std::ios::binary);
  std::vector<uint8_t> program((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(program.size(), 107404u);
  uint8_t d[20];
  ASSERT_TRUE(plat::Sha1Digest(program.data(), program.size(), d));
  auto show = sim_.Show(mac);
  EXPECT_EQ(show["ram_size"], "107404");
  std::string sha = show["ram_sha1"];
  for (char& c : sha) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(sha, bytes::HexText(d, 20));
  EXPECT_EQ(show["fw_info"], "1.300");
  // The streamer, the recovery listener and the boot-message watcher go with
  // their last user; the update leaves the registry with its final record.
  EXPECT_EQ(fw::StreamerCount(), 0u);
  EXPECT_EQ(kvxr::RecoveryListenerCount(), 0u);
  EXPECT_EQ(kvxr::RunningUpdateCount(), 0u);
}

// The host window goes while an update waits for its device.
TEST_F(UpdateJobs, ClosingTheHostEndsARunningUpdateAtOnceWithoutCallbacks) {
  std::string other = sim_.AddDevice("model=KV1R segment=A loader_delay=200 app_delay=200 fw_version=1.100");
  std::string mac;
  int32_t h = Device("loader=never", &mac);
  ASSERT_NE(h, 0);
  ASSERT_TRUE(g_byMac.count(other));
  ASSERT_EQ(KVxR_UpdateFirmware(h, OnUpdate), KVXR_OK);
  Pump(2500);  // rebooted; waiting for the recovery scan
  ASSERT_FALSE(g_events.empty());
  EXPECT_EQ(fw::StreamerCount(), 1u);
  EXPECT_EQ(kvxr::RecoveryListenerCount(), 1u);
  const size_t seen = g_events.size();
  const uint32_t t0 = plat::TickCount();
  CloseHost();
  const uint32_t spent = plat::TicksSince(t0);
  EXPECT_LT(spent, 3000u);
  std::printf("library shutdown with a running update: %u ms\n", spent);
  EXPECT_EQ(kvxr::RunningUpdateCount(), 0u);
  EXPECT_EQ(fw::StreamerCount(), 0u);
  EXPECT_EQ(kvxr::RecoveryListenerCount(), 0u);
  ASSERT_TRUE(OpenHost());
  Pump(1500);
  EXPECT_EQ(g_events.size(), seen);
  // The library starts afresh with the next call.
  EXPECT_EQ(KVxR_AbortUpdate(h), KVXR_NO_RUNNING_UPDATE);
  g_events.clear();
  g_ended = false;
  ASSERT_EQ(KVxR_UpdateFirmware(g_byMac[other], OnUpdate), KVXR_OK);
  Pump(30000, &g_ended);
  ASSERT_TRUE(g_ended);
  EXPECT_EQ(g_events.back().second, 1);
}

}  // namespace
}  // namespace qs::test
