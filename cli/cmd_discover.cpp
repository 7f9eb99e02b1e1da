// quillscan-cli discover: one scan as the program runs it, then every record
// the device manager ends with, as a table or as JSON.
#include <picojson.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/support_spinner.h"
#include "discovery/full_scan.h"
#include "library/library_host.h"
#include "library/status_text.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "runtime/bytes.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "discover";

void RunHost(uint32_t ms, const std::atomic<bool>* until, void* host) {
  static_cast<kvxr::LibraryHost*>(host)->Run(ms, until);
}

using disc::IDeviceInfoX;

std::string MacText(IDeviceInfoX* d) {
  uint8_t m[6];
  d->GetMac(m);
  char b[18];
  std::snprintf(b, sizeof b, "%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return b;
}

std::string VersionText(IDeviceInfoX* d) {
  const disc::VersionPair& v = d->GetVersion();
  if (v.major == 0 && v.minor == 0) return "-";
  char b[32];
  std::snprintf(b, sizeof b, "%u.%03u", static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor));
  return b;
}

std::string HardwareIdText(const uint8_t id[16]) {
  std::string s;
  char b[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(b, sizeof b, "%02X", id[i]);
    s += b;
  }
  return s;
}

void PrintTable(const std::vector<Ref<IDeviceInfoX>>& devices) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"DEVICE", "ADDRESS", "MAC", "VERSION", "SERIAL", "MODE"});
  for (const Ref<IDeviceInfoX>& d : devices) {
    const disc::DeviceDetails* det = disc::DetailsOf(d.get());
    std::string serial = plat::WideToUtf8(d->GetSerial());
    rows.push_back({plat::WideToUtf8(d->GetName()), bytes::FormatIpv4(d->GetAddress()), MacText(d.get()), VersionText(d.get()),
                    serial.empty() ? "-" : serial, det ? (det->dhcp ? "DHCP" : "static") : "-"});
  }
  std::vector<size_t> width(rows[0].size(), 0);
  for (const auto& r : rows)
    for (size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], r[i].size());
  for (const auto& r : rows) {
    std::string line;
    for (size_t i = 0; i < r.size(); ++i) {
      line += r[i];
      if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

picojson::value AddressOrNull(bool have, uint32_t a) { return have ? picojson::value(bytes::FormatIpv4(a)) : picojson::value(); }

void PrintJson(const std::vector<Ref<IDeviceInfoX>>& devices) {
  picojson::array out;
  for (const Ref<IDeviceInfoX>& d : devices) {
    const disc::DeviceDetails* det = disc::DetailsOf(d.get());
    picojson::object o;
    o["model"] = picojson::value(plat::WideToUtf8(d->GetName()));
    o["modelId"] = picojson::value(static_cast<double>(d->GetModelId()));
    o["address"] = picojson::value(bytes::FormatIpv4(d->GetAddress()));
    o["mac"] = picojson::value(MacText(d.get()));
    const disc::VersionPair& v = d->GetVersion();
    picojson::array ver{picojson::value(static_cast<double>(v.major)), picojson::value(static_cast<double>(v.minor))};
    o["version"] = picojson::value(ver);
    o["serial"] = picojson::value(det ? plat::WideToUtf8(d->GetSerial()) : std::string());
    o["dhcp"] = det ? picojson::value(det->dhcp != 0) : picojson::value();
    o["staticAddress"] = AddressOrNull(det != nullptr, d->GetStaticAddress());
    o["netmask"] = AddressOrNull(det != nullptr, d->GetNetmask());
    o["gateway"] = AddressOrNull(det != nullptr, d->GetGateway());
    o["hardwareId"] = picojson::value(det ? HardwareIdText(det->hardwareId) : std::string());
    out.push_back(picojson::value(o));
  }
  std::printf("%s\n", picojson::value(out).serialize(true).c_str());
}

int RunDiscover(const std::vector<std::string>& args) {
  disc::FullScanOptions opt;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--xp") opt.discoveryMode = false;
    else if (a == "--json") json = true;
    else return UsageError(kCmd, "unknown argument '" + a + "'");
  }
  plat::SocketsLibrary sockets;
  if (!sockets.ok()) {
    Error(kCmd, "the sockets library did not start");
    return kExitFailed;
  }
  disc::DeviceManager* mgr = disc::GetDeviceManagerImpl();
  kvxr::LibraryHost host;
  const bool hosted = host.Open();
  Spinner spinner(kCmd, "scanning");
  disc::FullScanResult r = disc::ScanToEnd(*mgr, opt, hosted ? RunHost : nullptr, &host);
  spinner.Stop();
  if (r.datagrams.interfaces == 0) {
    Error(kCmd, "no usable network interface (IPv4, up, not loopback): nothing was sent");
    host.Close();
    disc::ReleaseDeviceManager();
    return kExitFailed;
  }
  if (r.libraryStatus != KVXR_OK)
    Error(kCmd, "note: the KV-xR library scan did not run (" +
                    kvxr::StatusText(kvxr::Call::DiscoverDevices, r.libraryStatus) + ")");
  else if (!r.libraryEnded)
    Error(kCmd, "note: the KV-xR library scan did not end in time");
  if (r.datagrams.hitHardLimit)
    Error(kCmd, "note: replies kept coming; the collection stopped after " + std::to_string(r.datagrams.elapsedMs) +
                    " ms");
  const std::vector<Ref<IDeviceInfoX>>& devices = mgr->devices();
  if (json) PrintJson(devices);
  else if (!devices.empty()) PrintTable(devices);
  std::fflush(stdout);
  int rc = kExitOk;
  if (devices.empty()) {
    // Replies that name no listed model still show that the network carries
    // the scan; none at all, that nothing is there or nothing gets through.
    if (r.datagrams.datagrams == 0) {
      Error(kCmd, "no devices found: nothing answered the scan on " + std::to_string(r.datagrams.interfaces) +
                      " interface" + (r.datagrams.interfaces == 1 ? "" : "s"));
      rc = kExitFailed;
    } else {
      Error(kCmd, "no devices found: " + std::to_string(r.datagrams.datagrams) + " repl" +
                      (r.datagrams.datagrams == 1 ? "y names" : "ies name") + " no model this tool lists");
    }
  }
  host.Close();
  disc::ReleaseDeviceManager();
  return rc;
}

}  // namespace

QS_CLI_COMMAND(g_discover, "discover", "discover [--xp] [--json]",
               "Scans every local IPv4 interface once, as the program does (datagram scan and the\n"
               "KV-xR library's scan), and lists every device found: DEVICE, ADDRESS, MAC,\n"
               "VERSION, SERIAL and MODE.\n"
               "  --xp    the KV-xR scan sends to each interface's directed broadcast\n"
               "          instead of 255.255.255.255\n"
               "  --json  one JSON array of objects instead of the table\n"
               "When nothing is found it says so; the exit status is then 1 if nothing\n"
               "answered at all.\n"
               "Exit status: 0 done, 1 the scan could not run or nothing answered, 2 usage error.",
               RunDiscover);

}  // namespace qs::cli
