// kvxr-scan-probe: one library scan from a host thread, for the benchmarks.
// Prints what was reported and how long the scan took:
//   reported=N versions=N lines_unique=N done_ms=N last_line_ms=N status=N
//   forged=N real=N real_versions=N
// (forged: lines of devices whose MAC begins 02:F0, as bench/kvxr-flood.sh's
// forger makes them; real: the others)
// Usage: kvxr-scan-probe [mode] [after-done-ms]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "library/KV-xR_update.h"
#include "library/device_line.h"
#include "platform/tick.h"
#include "tests/library/test_host.h"

namespace {
std::atomic<bool> g_done{false};
uint32_t g_start = 0, g_doneMs = 0, g_lastMs = 0;
int g_reported = 0, g_versions = 0, g_forged = 0, g_realVersions = 0;
std::set<std::string> g_lines;

void OnDevice(int32_t, const KVxR_WCHAR* line) {
  std::string s;
  for (; *line; ++line) s.push_back(static_cast<char>(*line));
  ++g_reported;
  // the version is (0, 0), written "*", when unanswered
  qs::kvxr::DeviceLine d;
  bool parsed = qs::kvxr::ParseDeviceLine(s, &d);
  bool version = parsed && (d.major != 0 || d.minor != 0);
  if (version) ++g_versions;
  if (parsed && d.mac[0] == 0x02 && d.mac[1] == 0xF0) ++g_forged;
  else if (version) ++g_realVersions;
  g_lines.insert(s);
  g_lastMs = qs::plat::TicksSince(g_start);
}

void OnDone() {
  g_doneMs = qs::plat::TicksSince(g_start);
  g_done = true;
}
}  // namespace

int main(int argc, char** argv) {
  int mode = argc > 1 ? std::atoi(argv[1]) : 0;
  uint32_t after = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 1500;
  if (!qs::test::OpenHost()) {
    std::fprintf(stderr, "kvxr-scan-probe: no host window\n");
    return 1;
  }
  KVxR_SetDiscoveryMode(mode);
  g_start = qs::plat::TickCount();
  int32_t st = KVxR_DiscoverDevices(1000, OnDevice, OnDone);
  if (st == 0) {
    qs::test::Pump(15000, &g_done);
    qs::test::Pump(after);
  }
  std::printf("reported=%d versions=%d lines_unique=%zu done_ms=%u last_line_ms=%u status=%d forged=%d real=%d "
              "real_versions=%d\n",
              g_reported, g_versions, g_lines.size(), static_cast<unsigned>(g_doneMs), static_cast<unsigned>(g_lastMs),
              static_cast<int>(st), g_forged, g_reported - g_forged, g_realVersions);
  std::fflush(stdout);
  qs::test::CloseHost();
  return st == 0 && g_done ? 0 : 1;
}
