// kvxr-update-probe: firmware updates and recovery mode through the library's
// exports from a host thread, for the benchmarks (bench/update.sh,
// bench/stream-pacing.sh). Times are the system's monotonic clock in ms, the
// clock the simulator's "fw" journal uses, so both sides line up.
//
//   kvxr-update-probe update MAC FILE...   one update per file, one after the
//                                          other, with a scan before each
//     scan t= found=0|1 version=V
//     event t= kind= value=               every callback of the update
//     update file= status= start= end=
//   kvxr-update-probe recovery FILE MS     recovery mode on for MS ms
//     recovery on= off= status=
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "library/KV-xR_update.h"
#include "tests/library/test_host.h"

namespace {

double NowMs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count() / 1000.0;
}

std::string g_mac;  // "02:00:..." as the device line writes it
int32_t g_handle = 0;
std::string g_version;
std::atomic<bool> g_scanDone{false}, g_ended{false};
struct Event {
  double at;
  int32_t kind, value;
};
std::vector<Event> g_events;

std::string Narrow(const KVxR_WCHAR* w) {
  std::string s;
  for (; *w; ++w) s.push_back(static_cast<char>(*w));
  return s;
}
std::string Field(const std::string& line, int n) {
  size_t start = 0;
  for (int i = 0; i < n && start != std::string::npos; ++i) {
    start = line.find('|', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return "";
  return line.substr(start, line.find('|', start) - start);
}

void OnDevice(int32_t h, const KVxR_WCHAR* line) {
  const std::string s = Narrow(line);
  if (Field(s, 2) != g_mac) return;
  g_handle = h;
  g_version = Field(s, 3);
}
void OnScanDone() { g_scanDone = true; }
void OnUpdate(int32_t, int32_t kind, int32_t value) {
  g_events.push_back(Event{NowMs(), kind, value});
  if (kind == 4) g_ended = true;
}
void OnRecovery(int32_t, const KVxR_WCHAR*, int32_t, int32_t) {}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

bool SetFile(const std::string& path) {
  std::u16string p = Wide(path);
  KVxR_WCHAR version[16];
  return KVxR_SetFirmwareFile(reinterpret_cast<const KVxR_WCHAR*>(p.c_str()), version, 16) == 0;
}

bool Scan() {
  g_handle = 0;
  g_scanDone = false;
  if (KVxR_DiscoverDevices(1000, OnDevice, OnScanDone) != 0) return false;
  qs::test::Pump(9000, &g_scanDone);
  qs::test::Pump(1200);  // version answers
  std::printf("scan t=%.3f found=%d version=%s\n", NowMs(), g_handle != 0, g_version.c_str());
  return g_handle != 0;
}

int Update(int argc, char** argv) {
  g_mac = argv[2];
  for (char& c : g_mac)
    if (c == '-') c = ':';
  int failures = 0;
  for (int i = 3; i < argc; ++i) {
    if (!SetFile(argv[i])) {
      std::printf("update file=%s status=file-refused\n", argv[i]);
      return 1;
    }
    if (!Scan()) {
      std::printf("update file=%s status=not-found\n", argv[i]);
      return 1;
    }
    g_events.clear();
    g_ended = false;
    const double start = NowMs();
    int32_t st = KVxR_UpdateFirmware(g_handle, OnUpdate);
    if (st == 0) qs::test::Pump(150000, &g_ended);
    const double end = NowMs();
    for (const Event& e : g_events) std::printf("event t=%.3f kind=%d value=%d\n", e.at, e.kind, e.value);
    int32_t status = st != 0 ? st : g_ended ? g_events.back().value : 999;
    std::printf("update file=%s status=%d start=%.3f end=%.3f\n", argv[i], static_cast<int>(status), start, end);
    std::fflush(stdout);
    if (status != 0 && status != 1) ++failures;
  }
  Scan();
  return failures == 0 ? 0 : 1;
}

int Recovery(char** argv) {
  if (!SetFile(argv[2])) return 1;
  const uint32_t ms = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  const double on = NowMs();
  int32_t st = KVxR_SetRecoveryMode(1, OnRecovery);
  if (st == 0) qs::test::Pump(ms);
  const double off = NowMs();
  KVxR_SetRecoveryMode(0, OnRecovery);
  std::printf("recovery on=%.3f off=%.3f status=%d\n", on, off, static_cast<int>(st));
  return st == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "update" && argc >= 4) || (mode == "recovery" && argc == 4))) {
    std::fprintf(stderr, "usage: kvxr-update-probe update MAC FILE... | recovery FILE MS\n");
    return 2;
  }
  if (!qs::test::OpenHost()) {
    std::fprintf(stderr, "kvxr-update-probe: no host window\n");
    return 1;
  }
  int rc = mode == "update" ? Update(argc, argv) : Recovery(argv);
  std::fflush(stdout);
  qs::test::CloseHost();
  return rc;
}
