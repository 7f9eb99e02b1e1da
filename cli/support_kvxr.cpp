#include "cli/support_kvxr.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "app/logic/address_rule.h"
#include "cli/command.h"
#include "cli/support_spinner.h"
#include "library/KV-xR_update.h"
#include "runtime/bytes.h"

namespace qs::cli {

namespace {

std::vector<KvxrDevice>* g_target = nullptr;
std::atomic<bool> g_done{false};
// Scans started and ended, for letting them end before the program does.
std::atomic<int> g_scansStarted{0};
std::atomic<int> g_scansEnded{0};
std::atomic<bool> g_allEnded{true};
// While probing: the MACs looked for, those not seen yet, and whether every
// one's line came.
const std::vector<std::array<uint8_t, 6>>* g_probeMacs = nullptr;
std::vector<bool> g_probeSeen;
size_t g_probeLeft = 0;
std::atomic<bool> g_probeHit{false};

void OnDevice(int32_t handle, const KVxR_WCHAR* line) {
  if (!g_target || !line) return;
  // A line of an earlier scan names a handle the library no longer knows: it
  // may tell how the device was before a change.
  uint8_t id[16];
  if (KVxR_GetHardwareID(handle, id) != KVXR_OK) return;
  std::string s;
  for (size_t i = 0; line[i] && i < 512; ++i) s.push_back(static_cast<char>(line[i]));
  KvxrDevice d;
  d.handle = handle;
  d.line = s;
  if (!kvxr::ParseDeviceLine(s, &d.d)) return;
  d.model = d.d.model;
  g_target->push_back(d);
  if (!g_probeMacs) return;
  for (size_t i = 0; i < g_probeMacs->size(); ++i) {
    if (g_probeSeen[i] || std::memcmp((*g_probeMacs)[i].data(), d.d.mac, 6) != 0) continue;
    g_probeSeen[i] = true;
    if (--g_probeLeft == 0) g_probeHit = true;
  }
}

void OnDone() {
  g_done = true;
  if (g_scansEnded.fetch_add(1) + 1 == g_scansStarted.load()) g_allEnded = true;
}

int32_t StartScan(bool limitedBroadcast) {
  KVxR_SetDiscoveryMode(limitedBroadcast ? 1 : 0);
  g_scansStarted.fetch_add(1);
  g_allEnded = false;
  int32_t st = KVxR_DiscoverDevices(1000, OnDevice, OnDone);
  if (st != KVXR_OK) OnDone();  // none runs: counted as ended
  return st;
}

}  // namespace

std::string KvxrDevice::Address() const { return bytes::FormatIpv4(d.address); }

app::RecordSettings KvxrDevice::Settings() const {
  return app::RecordSettings{d.dhcp, d.address, d.staticAddress, d.netmask, d.gateway};
}

bool TakeLimitedBroadcastOption(const std::vector<std::string>& all, std::vector<std::string>* rest) {
  bool limited = true;
  rest->clear();
  for (const std::string& a : all) {
    if (a == "--xp") limited = false;
    else rest->push_back(a);
  }
  return limited;
}

bool ScanKvxrDevices(LibraryHost& host, bool limitedBroadcast, std::vector<KvxrDevice>* out, int32_t* status) {
  out->clear();
  g_target = out;
  g_done = false;
  *status = StartScan(limitedBroadcast);
  if (*status == KVXR_OK) {
    host.Run(8000, &g_done);
    host.Run(1200);  // version answers come up to 1 s after an announce
  }
  g_target = nullptr;
  return *status == KVXR_OK && g_done.load();
}

bool ProbeKvxrDevice(LibraryHost& host, bool limitedBroadcast, const uint8_t mac[6], uint32_t waitMs,
                     KvxrDevice* out) {
  std::vector<std::array<uint8_t, 6>> macs(1);
  std::memcpy(macs[0].data(), mac, 6);
  std::vector<KvxrDevice> found;
  ProbeKvxrDevices(host, limitedBroadcast, macs, waitMs, &found);
  if (found.empty()) return false;
  *out = found[0];
  return true;
}

void ProbeKvxrDevices(LibraryHost& host, bool limitedBroadcast, const std::vector<std::array<uint8_t, 6>>& macs,
                      uint32_t waitMs, std::vector<KvxrDevice>* out) {
  out->clear();
  if (macs.empty()) return;
  std::vector<KvxrDevice> seen;
  g_target = &seen;
  g_probeMacs = &macs;
  g_probeSeen.assign(macs.size(), false);
  g_probeLeft = macs.size();
  g_probeHit = false;
  if (StartScan(limitedBroadcast) == KVXR_OK) {
    host.Run(waitMs, &g_probeHit);
    for (const KvxrDevice& d : UniqueByMac(seen)) {
      for (const auto& m : macs)
        if (std::memcmp(d.d.mac, m.data(), 6) == 0) out->push_back(d);
    }
  }
  g_target = nullptr;
  g_probeMacs = nullptr;
}

std::vector<KvxrDevice> UniqueByMac(const std::vector<KvxrDevice>& lines) {
  std::vector<KvxrDevice> unique;
  for (const KvxrDevice& d : lines) {
    bool same = false;
    for (KvxrDevice& m : unique) {
      if (std::memcmp(m.d.mac, d.d.mac, 6) == 0) {
        m = d;
        same = true;
      }
    }
    if (!same) unique.push_back(d);
  }
  return unique;
}

void LetScansEnd(LibraryHost& host) {
  if (!g_allEnded.load()) host.Run(8000, &g_allEnded);
}

bool OpenAndScanKvxrDevices(LibraryHost& host, const char* command, bool limitedBroadcast,
                            std::vector<KvxrDevice>* found) {
  if (!host.Open()) {
    Error(command, "no window for the library's notifications");
    return false;
  }
  std::vector<KvxrDevice> lines;
  int32_t st = 0;
  Spinner spinner(command, "scanning");
  bool ran = ScanKvxrDevices(host, limitedBroadcast, &lines, &st);
  spinner.Stop();
  if (!ran) {
    Error(command, "the KV-xR scan did not run (" + kvxr::StatusText(kvxr::Call::DiscoverDevices, st) + ")");
    return false;
  }
  *found = UniqueByMac(lines);
  return true;
}

bool OpenAndFindKvxrDevice(LibraryHost& host, const char* command, const DeviceTarget& target, bool limitedBroadcast,
                           KvxrDevice* device, const char* note) {
  std::vector<KvxrDevice> found;
  if (!OpenAndScanKvxrDevices(host, command, limitedBroadcast, &found)) return false;
  std::vector<KvxrDevice> matches;
  for (const KvxrDevice& d : found)
    if (TargetMatches(target, d.d.mac, d.d.address)) matches.push_back(d);
  if (matches.empty()) {
    Error(command, "no KV-xR device with " + TargetText(target) + " answered the scan" + note);
    return false;
  }
  if (matches.size() > 1) {
    std::string macs;
    for (const KvxrDevice& m : matches) macs += (macs.empty() ? "" : ", ") + MacText(m.d.mac);
    Error(command, std::to_string(matches.size()) + " KV-xR devices answer at " + bytes::FormatIpv4(target.address) +
                       " (" + macs + "): name one by its MAC" + note);
    return false;
  }
  *device = matches[0];
  return true;
}

}  // namespace qs::cli
