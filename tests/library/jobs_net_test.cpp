// How the library's pooled jobs end, against simulated devices in a test
// network, with the library linked in (its test seams reachable): receive
// errors of the socket itself, a shutdown in the middle of a job or a scan,
// the job log, and a scan under a flood of forged announces.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "library/KV-xR_update.h"
#include "library/config_jobs.h"
#include "library/library_state.h"
#include "library/scanner.h"
#include "net/udp_endpoint.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/log_sink.h"
#include "runtime/thread.h"
#include "tests/library/test_host.h"
#include "tests/support/sim_client.h"

namespace qs::test {
namespace {

plat::SocketsLibrary g_sockets;

std::map<std::string, std::pair<int32_t, std::string>> g_byMac;  // MAC -> handle, line
std::vector<std::string> g_lines;
std::atomic<int> g_done{0};
std::atomic<bool> g_doneFlag{false};

void OnDevice(int32_t h, const KVxR_WCHAR* line) {
  std::string s;
  for (; *line; ++line) s.push_back(static_cast<char>(*line));
  g_lines.push_back(s);
  size_t a = s.find('|'), b = s.find('|', a + 1), c = s.find('|', b + 1);
  std::string mac = s.substr(b + 1, c - b - 1);
  for (char& ch : mac)
    if (ch == ':') ch = '-';
  g_byMac[mac] = {h, s};
}
void OnDone() {
  ++g_done;
  g_doneFlag = true;
}

void Clear() {
  g_byMac.clear();
  g_lines.clear();
  g_done = 0;
  g_doneFlag = false;
}

void ScanOnce() {
  Clear();
  ASSERT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnDone), KVXR_OK);
  Pump(9000, &g_doneFlag);
  ASSERT_TRUE(g_doneFlag.load());
  Pump(1300);
}

std::string Field(const std::string& line, int n) {
  size_t start = 0;
  for (int i = 0; i < n; ++i) start = line.find('|', start) + 1;
  return line.substr(start, line.find('|', start) - start);
}

class Jobs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(OpenHost()); }
  void SetUp() override {
    ASSERT_TRUE(TestNet::Available()) << "run inside testnet/run.sh";
    ASSERT_TRUE(sim_.Connect());
    ASSERT_TRUE(sim_.Reset());
  }
  void TearDown() override { net::InjectReceiveErrors(0); }

  kvxr::DeviceRecord Record(const std::string& mac) {
    kvxr::DeviceRecord r;
    auto it = g_byMac.find(mac);
    if (it != g_byMac.end()) kvxr::LookUpDevice(it->second.first, &r);
    return r;
  }
  // Waits until the simulator has logged a datagram of the kind.
  bool Logged(const std::string& kind, uint32_t ms) {
    uint32_t t0 = plat::TickCount();
    while (plat::TicksSince(t0) < ms) {
      if (!sim_.LogOfKind(kind).empty()) return true;
      plat::SleepMs(10);
    }
    return false;
  }
  SimClient sim_;
};

kvxr::NetworkSettings Static() {
  kvxr::NetworkSettings s;
  s.dhcp = 0;
  return s;
}

// The receive-error statuses are for a socket that fails: here the next
// datagram after the given point is turned into one.
TEST_F(Jobs, ASocketThatFailsToReceiveEndsEachWaitWithItsOwnStatus) {
  std::string late = sim_.AddDevice("model=KV1R segment=A");
  std::string slowAck = sim_.AddDevice("model=KV2R segment=A ack_delay=600");
  std::string slowChallenge = sim_.AddDevice("model=KV3R segment=B challenge_delay=600");
  ScanOnce();
  kvxr::DeviceRecord rl = Record(late), ra = Record(slowAck), rc = Record(slowChallenge);
  ASSERT_NE(rl.model, 0u);
  ASSERT_NE(ra.model, 0u);
  ASSERT_NE(rc.model, 0u);

  // Rediscovery: the first answer is an error.
  ASSERT_TRUE(sim_.Set(late, "kv_delay=400"));
  net::InjectReceiveErrors(1);
  EXPECT_EQ(kvxr::RunSetConfig(rl, Static(), 3000), KVXR_REDISCOVERY_RECEIVE_ERROR);
  net::InjectReceiveErrors(0);
  ASSERT_TRUE(sim_.Set(late, "kv_delay=0"));

  // Acknowledgement: the error comes once the request is out.
  ASSERT_TRUE(sim_.Command("clearlog"));
  std::atomic<int32_t> st{1};
  std::thread job([&] { st = kvxr::RunSetConfig(ra, Static(), 3000); });
  ASSERT_TRUE(Logged("setcfg", 2500));
  net::InjectReceiveErrors(1);
  job.join();
  EXPECT_EQ(st.load(), KVXR_SETCFG_RECEIVE_ERROR);

  // Challenge.
  ASSERT_TRUE(sim_.Command("clearlog"));
  net::InjectReceiveErrors(0);
  std::thread reboot([&] { st = kvxr::RunReboot(rc); });
  ASSERT_TRUE(Logged("reboot", 2500));
  net::InjectReceiveErrors(1);
  reboot.join();
  EXPECT_EQ(st.load(), KVXR_CHALLENGE_RECEIVE_ERROR);
}

// What a job sends and sees reaches the log sink, skipped datagrams too.
TEST_F(Jobs, TheLogTellsWhatWasSentSeenAndSkipped) {
  std::string big = sim_.AddDevice("model=KV2R segment=A oversize=ack opmode=6");
  ScanOnce();
  kvxr::DeviceRecord r = Record(big);
  ASSERT_NE(r.model, 0u);
  Ref<MemoryLogSink> log = Ref<MemoryLogSink>::Adopt(CreateObject<RCObject2<MemoryLogSink>>());
  ASSERT_EQ(kvxr::RunSetConfig(r, Static(), 3000, log.get()), 0);
  std::vector<std::string> lines;
  for (const auto& e : log->entries()) lines.push_back(MemoryLogSink::Format(e));
  auto has = [&](const std::string& part) {
    for (const std::string& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has("set-config sent [1/1] discover to 255.255.255.255")) << ::testing::PrintToString(lines);
  EXPECT_TRUE(has("set-config received [1/1] announce of "));
  EXPECT_TRUE(has("set-config received [1/1] operation mode 6"));
  EXPECT_TRUE(has("set-config sent [1/1] set-config (static, operation mode 6)"));
  EXPECT_TRUE(has("set-config skipped [1/1] stray datagram from "));
  EXPECT_TRUE(has("set-config received [1/1] acknowledgement: accepted"));

  // A scan's discover requests are counted attempts.
  Ref<MemoryLogSink> scanLog = Ref<MemoryLogSink>::Adopt(CreateObject<RCObject2<MemoryLogSink>>());
  kvxr::SetJobLogSink(scanLog.get());
  ScanOnce();
  kvxr::SetJobLogSink(nullptr);
  lines.clear();
  for (const auto& e : scanLog->entries()) lines.push_back(MemoryLogSink::Format(e));
  char first[40];
  std::snprintf(first, sizeof first, "scan sent [1/%u] discover to ", kvxr::kDiscoverAttempts);
  EXPECT_TRUE(has(first)) << ::testing::PrintToString(lines);
  EXPECT_TRUE(has("scan received [1/"));
  EXPECT_TRUE(has("scan sent [1/")) ;
  EXPECT_TRUE(has("?Version to "));
}

// A shutdown stops a job that waits (its socket wait ends on the job's stop
// event): the export returns at once instead of after its budget.
TEST_F(Jobs, AShutdownEndsAWaitingJobPromptly) {
  std::string silent = sim_.AddDevice("model=KV1R segment=B ack=none");
  ScanOnce();
  kvxr::DeviceRecord r = Record(silent);
  ASSERT_NE(r.model, 0u);
  ASSERT_TRUE(sim_.Command("clearlog"));
  std::atomic<int32_t> st{1};
  std::atomic<uint32_t> spent{0};
  std::thread job([&] {
    uint32_t t0 = plat::TickCount();
    st = kvxr::RunSetConfig(r, Static(), 20000);
    spent = plat::TicksSince(t0);
  });
  ASSERT_TRUE(Logged("setcfg", 3000));
  EXPECT_EQ(ShutdownPool(), 0u);
  job.join();
  EXPECT_EQ(st.load(), KVXR_SETCFG_NO_ACK);
  EXPECT_LT(spent.load(), 5000u);
  // Until it is reopened, the pool takes no work: the job is not started.
  EXPECT_EQ(kvxr::RunSetConfig(r, Static(), 1000), KVXR_SETCFG_NOT_STARTED);
  ReopenPool();
}

// Last but one: the host closes while a scan and its version queries run;
// the library winds them up and starts afresh with a new host.
TEST_F(Jobs, ClosingTheHostDuringABusyScanThenScanningAgain) {
  std::string a = sim_.AddDevice("model=KV1R segment=A version=1.7 version_delay=900");
  std::string b = sim_.AddDevice("model=KV2R segment=B version=2.8");
  Clear();
  ASSERT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnDone), KVXR_OK);
  Pump(400);
  uint32_t t0 = plat::TickCount();
  CloseHost();
  EXPECT_LT(plat::TicksSince(t0), 3000u);  // stopped, not waited out
  EXPECT_EQ(g_done.load(), 1);
  EXPECT_EQ(PoolThreadCount(), 0u);
  EXPECT_EQ(kvxr::ListedScanCount(), 0u);
  size_t before = g_lines.size();
  Pump(1500);
  EXPECT_EQ(g_lines.size(), before);  // nothing after the host went

  ASSERT_TRUE(OpenHost());
  ScanOnce();
  ASSERT_EQ(g_byMac.count(a), 1u);
  ASSERT_EQ(g_byMac.count(b), 1u);
  EXPECT_EQ(Field(g_byMac[a].second, 3), "1.7");
  EXPECT_EQ(Field(g_byMac[b].second, 3), "2.8");
  EXPECT_EQ(g_done.load(), 1);
}

#ifndef _WIN32
// The forger of tests/support, beside this program's build folder.
std::string Forger() {
  if (const char* f = std::getenv("QS_FORGER")) return f;
  char self[4096] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));  // .../tests/library
  dir = dir.substr(0, dir.rfind('/'));  // .../tests
  return dir + "/support/qs-announce-forger";
}

// 5000 announces with distinct identifiers, forged by a host on segment A in
// answer to the scan's first request there: the real devices are still all
// reported, with their versions, and the scan holds no more threads than one
// per interface.
TEST_F(Jobs, AFloodOfForgedAnnouncesHoldsBackNoRealDeviceAndNoThreads) {
  const char* devns = std::getenv("QS_NET_DEVNS");
  ASSERT_NE(devns, nullptr);
  std::string forger = Forger();
  ASSERT_EQ(access(forger.c_str(), X_OK), 0) << forger;
  std::vector<std::string> real;
  for (int i = 0; i < 12; ++i) {
    char settings[96];
    std::snprintf(settings, sizeof settings, "model=KV%dR segment=%s version=3.%d", 1 + i % 3, i % 2 ? "B" : "A", i);
    real.push_back(sim_.AddDevice(settings));
    ASSERT_FALSE(real.back().empty());
  }
  std::string out = "/tmp/qs-forger." + std::to_string(getpid());
  std::string cmd = "ip netns exec " + std::string(devns) + " " + forger + " 5000 " +
                    FormatAddress(TestNet::PcA()) + " 15000 >" + out + " 2>&1";
  std::atomic<int> forgerRc{-1};
  std::thread forging([&] { forgerRc = std::system(cmd.c_str()); });
  plat::SleepMs(300);  // the forger listens before the scan asks
  ShutdownPool();  // no idle threads left from earlier tests
  ReopenPool();
  ResetPoolPeak();
  ScanOnce();
  forging.join();
  std::ifstream f(out);
  std::string said((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::remove(out.c_str());
  ASSERT_EQ(forgerRc.load(), 0) << said;
  EXPECT_NE(said.find("forged=5000 "), std::string::npos) << said;

  for (size_t i = 0; i < real.size(); ++i) {
    ASSERT_EQ(g_byMac.count(real[i]), 1u) << real[i];
    EXPECT_EQ(Field(g_byMac[real[i]].second, 3), "3." + std::to_string(i)) << g_byMac[real[i]].second;
  }
  size_t forged = 0;
  for (const std::string& l : g_lines)
    if (l.find("|02:F0:") != std::string::npos) ++forged;
  EXPECT_GT(forged, 100u);  // the flood did reach the scan
  EXPECT_LE(forged, kvxr::kMaxDevicesPerInterface);
  EXPECT_LE(PoolPeakThreadCount(), 2u);
  EXPECT_EQ(g_done.load(), 1);
}
#endif

}  // namespace
}  // namespace qs::test
