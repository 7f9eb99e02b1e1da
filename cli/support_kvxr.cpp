#include "cli/support_kvxr.h"

#include <atomic>
#include <cstdio>

#include "library/KV-xR_update.h"

namespace qs::cli {

namespace {

std::map<std::string, KvxrDevice>* g_target = nullptr;
std::atomic<bool> g_done{false};

std::string Field(const std::string& line, int n) {
  size_t start = 0;
  for (int i = 0; i < n; ++i) {
    start = line.find('|', start);
    if (start == std::string::npos) return "";
    ++start;
  }
  size_t end = line.find('|', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void OnDevice(int32_t handle, const KVxR_WCHAR* line) {
  if (!g_target || !line) return;
  std::string s;
  for (size_t i = 0; line[i] && i < 512; ++i) s.push_back(static_cast<char>(line[i]));
  KvxrDevice d;
  d.handle = handle;
  d.line = s;
  d.model = Field(s, 0);
  d.address = Field(s, 1);
  d.version = Field(s, 3);
  d.dhcp = Field(s, 4) == "DHCP";
  d.staticAddress = Field(s, 5);
  d.netmask = Field(s, 6);
  d.gateway = Field(s, 7);
  (*g_target)[Field(s, 2)] = d;
}

void OnDone() { g_done = true; }

}  // namespace

bool ParseMacArgument(const std::string& t, std::string* mac) {
  if (t.size() != 17) return false;
  std::string out;
  for (size_t i = 0; i < 17; ++i) {
    char c = t[i];
    if (i % 3 == 2) {
      if (c != ':' && c != '-') return false;
      out.push_back(':');
      continue;
    }
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    out.push_back(c);
  }
  *mac = out;
  return true;
}

bool ParseDottedQuad(const std::string& t, uint32_t* out) {
  uint32_t v = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= t.size() || t[i] != '.') return false;
      ++i;
    }
    uint32_t x = 0;
    size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9' && digits < 4) {
      x = x * 10 + static_cast<uint32_t>(t[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || x > 255) return false;
    v = (v << 8) | x;
  }
  if (i != t.size()) return false;
  *out = v;
  return true;
}

bool IsContiguousNetmask(uint32_t m) { return m != 0 && ((~m + 1) & ~m) == 0; }

std::string DottedText(uint32_t a) {
  char b[16];
  std::snprintf(b, sizeof b, "%u.%u.%u.%u", (a >> 24) & 255u, (a >> 16) & 255u, (a >> 8) & 255u, a & 255u);
  return b;
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

bool ScanKvxrDevices(LibraryHost& host, bool limitedBroadcast, std::map<std::string, KvxrDevice>* out,
                     int32_t* status) {
  out->clear();
  g_target = out;
  g_done = false;
  KVxR_SetDiscoveryMode(limitedBroadcast ? 1 : 0);
  *status = KVxR_DiscoverDevices(1000, OnDevice, OnDone);
  if (*status == 0) {
    host.Run(8000, &g_done);
    host.Run(1200);  // version answers come up to 1 s after an announce
  }
  g_target = nullptr;
  return *status == 0 && g_done.load();
}

std::string StatusMeaning(KvxrCall call, int32_t st) {
  const char* m = nullptr;
  if (st == 0) m = "done";
  else if (st == -100) m = call == KvxrCall::Reboot ? "unknown device, or the reboot could not be started"
                                                   : "unknown device (not in the last scan)";
  else if (call == KvxrCall::Reboot) {
    switch (st) {
      case -201: m = "no socket on the interface the device was found on"; break;
      case -202: m = "broadcast is not allowed on that interface"; break;
      case -203: m = "the reboot request could not be sent"; break;
      case -204: m = "the answer to the device's challenge could not be sent"; break;
      case -210: m = "the device sent no valid challenge within 3 s"; break;
      case -211: m = "receive error while waiting for the challenge"; break;
    }
  } else if (call == KvxrCall::ReadOperationMode) {
    if (st == -101) m = "no room for the answer";
  } else {
    switch (st) {
      case -101: m = "the request could not be started, or the settings text was refused"; break;
      case -102: m = "a separator is missing in the settings text"; break;
      case -103: m = "an address in the settings text is malformed"; break;
      case -300: m = "the device did not answer the rediscovery in time"; break;
      case -301: m = "receive error during the rediscovery"; break;
      case -401: m = "the device refused the settings, or the request could not be sent"; break;
      case -402: m = "no acknowledgement from the device in time"; break;
      case -403: m = "receive error while waiting for the acknowledgement"; break;
    }
  }
  char b[32];
  std::snprintf(b, sizeof b, "%d: ", static_cast<int>(st));
  return std::string(b) + (m ? m : "unexpected status");
}

bool OpenAndFindKvxrDevice(LibraryHost& host, const char* command, const std::string& mac, bool limitedBroadcast,
                           KvxrDevice* device, const char* note) {
  if (!host.Open()) {
    std::fprintf(stderr, "quillscan-cli %s: no window for the library's notifications\n", command);
    return false;
  }
  std::map<std::string, KvxrDevice> found;
  int32_t st = 0;
  if (!ScanKvxrDevices(host, limitedBroadcast, &found, &st)) {
    std::fprintf(stderr, "quillscan-cli %s: the KV-xR scan did not run (status %d)\n", command, static_cast<int>(st));
    return false;
  }
  auto it = found.find(mac);
  if (it == found.end()) {
    std::fprintf(stderr, "quillscan-cli %s: no KV-xR device %s answered the scan%s\n", command, mac.c_str(), note);
    return false;
  }
  *device = it->second;
  return true;
}

}  // namespace qs::cli
