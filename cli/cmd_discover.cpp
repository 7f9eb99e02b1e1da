// quillscan-cli discover: one scan as the program runs it, then every record
// the device manager ends with, as a table, JSON or CSV; and why nothing was
// found, as far as the scan can tell.
#include <picojson.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/support_csv.h"
#include "cli/support_scan.h"
#include "cli/support_scan_report.h"
#include "cli/support_target.h"
#include "library/status_text.h"
#include "platform/text.h"
#include "runtime/bytes.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "discover";

using disc::IDeviceInfoX;

std::string MacOf(IDeviceInfoX* d) {
  uint8_t m[6];
  d->GetMac(m);
  return MacText(m);
}

// The program's own form, "1.012".
std::string VersionNumber(const disc::VersionPair& v) {
  char b[32];
  std::snprintf(b, sizeof b, "%u.%03u", static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor));
  return b;
}

std::string VersionText(IDeviceInfoX* d) {
  const disc::VersionPair& v = d->GetVersion();
  return v.major == 0 && v.minor == 0 ? "-" : VersionNumber(v);
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
    rows.push_back({plat::WideToUtf8(d->GetName()), bytes::FormatIpv4(d->GetAddress()), MacOf(d.get()), VersionText(d.get()),
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

// One device as both machine-readable forms carry it: the JSON keys (and the
// CSV header) in this order, each value as JSON and as a CSV field (empty
// where JSON has null).
const char* const kFieldNames[] = {"model",   "modelId",       "address", "mac",     "version",   "serial",
                                   "dhcp",    "staticAddress", "netmask", "gateway", "hardwareId"};
constexpr size_t kFieldCount = sizeof kFieldNames / sizeof kFieldNames[0];

struct FieldValue {
  picojson::value json;
  std::string csv;
};

FieldValue Text(const std::string& s) { return {picojson::value(s), s}; }

FieldValue AddressOrNull(bool have, uint32_t a) {
  return have ? Text(bytes::FormatIpv4(a)) : FieldValue{picojson::value(), ""};
}

std::vector<FieldValue> FieldsOf(IDeviceInfoX* d) {
  const disc::DeviceDetails* det = disc::DetailsOf(d);
  const disc::VersionPair& v = d->GetVersion();
  picojson::array ver{picojson::value(static_cast<double>(v.major)), picojson::value(static_cast<double>(v.minor))};
  FieldValue dhcp{picojson::value(), ""};
  if (det) dhcp = {picojson::value(det->dhcp != 0), det->dhcp ? "true" : "false"};
  return {Text(plat::WideToUtf8(d->GetName())),
          {picojson::value(static_cast<double>(d->GetModelId())), std::to_string(d->GetModelId())},
          Text(bytes::FormatIpv4(d->GetAddress())),
          Text(MacOf(d)),
          {picojson::value(ver), VersionNumber(v)},
          Text(det ? plat::WideToUtf8(d->GetSerial()) : std::string()),
          dhcp,
          AddressOrNull(det != nullptr, d->GetStaticAddress()),
          AddressOrNull(det != nullptr, d->GetNetmask()),
          AddressOrNull(det != nullptr, d->GetGateway()),
          Text(det ? HardwareIdText(det->hardwareId) : std::string())};
}

void PrintJson(const std::vector<Ref<IDeviceInfoX>>& devices) {
  picojson::array out;
  for (const Ref<IDeviceInfoX>& d : devices) {
    std::vector<FieldValue> f = FieldsOf(d.get());
    picojson::object o;
    for (size_t i = 0; i < kFieldCount && i < f.size(); ++i) o[kFieldNames[i]] = f[i].json;
    out.push_back(picojson::value(o));
  }
  std::printf("%s\n", picojson::value(out).serialize(true).c_str());
}

void PrintCsv(const std::vector<Ref<IDeviceInfoX>>& devices) {
  std::string text = CsvRecord(std::vector<std::string>(kFieldNames, kFieldNames + kFieldCount));
  for (const Ref<IDeviceInfoX>& d : devices) {
    std::vector<std::string> row;
    for (FieldValue& f : FieldsOf(d.get())) row.push_back(std::move(f.csv));
    text += CsvRecord(row);
  }
  WriteStdoutBytes(text);
}

void Say(const std::vector<std::string>& lines) {
  for (const std::string& l : lines) Error(kCmd, l);
}

int RunDiscover(const std::vector<std::string>& args) {
  disc::FullScanOptions opt;
  bool json = false, csv = false, verbose = false;
  for (const std::string& a : args) {
    if (a == "--xp") opt.discoveryMode = false;
    else if (a == "--json") json = true;
    else if (a == "--csv") csv = true;
    else if (a == "--verbose" || a == "-v") verbose = true;
    else return UsageError(kCmd, "unknown argument '" + a + "'");
  }
  if (json && csv) return UsageError(kCmd, "--csv and --json cannot be used together: choose one output form");
  ConsoleScan scan;
  if (!scan.Run(kCmd, opt)) return kExitFailed;
  const disc::FullScanResult& r = scan.result();
  if (verbose) Say(VerboseLines(r));
  if (scan.NothingSent(kCmd)) return kExitFailed;
  if (r.libraryStatus != KVXR_OK)
    Error(kCmd, "note: the KV-xR library scan did not run (" +
                    kvxr::StatusText(kvxr::Call::DiscoverDevices, r.libraryStatus) + ")");
  else if (!r.libraryEnded)
    Error(kCmd, "note: the KV-xR library scan did not end in time");
  if (r.datagrams.hitHardLimit)
    Error(kCmd, "note: replies kept coming; the collection stopped after " + std::to_string(r.datagrams.elapsedMs) +
                    " ms");
  const std::vector<Ref<IDeviceInfoX>>& devices = scan.devices();
  if (json) PrintJson(devices);
  else if (csv) PrintCsv(devices);
  else if (!devices.empty()) PrintTable(devices);
  std::fflush(stdout);
  if (!devices.empty()) return kExitOk;
  // Replies that name no listed model still show that the network carries
  // the scan; none at all, that nothing is there or nothing gets through.
  if (r.datagrams.datagrams == 0) {
    Error(kCmd, "no devices found: nothing answered the scan on " + std::to_string(r.datagrams.interfaces) +
                    " interface" + (r.datagrams.interfaces == 1 ? "" : "s"));
    Say(NoReplyLines(r.datagrams));
    return kExitFailed;
  }
  Error(kCmd, "no devices found: " + std::to_string(r.datagrams.datagrams) + " repl" +
                  (r.datagrams.datagrams == 1 ? "y names" : "ies name") + " no model this tool lists");
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_discover, "discover", "discover [--xp] [--json] [--csv] [--verbose]",
               "Scans every local IPv4 interface once, as the program does (datagram scan and the\n"
               "KV-xR library's scan), and lists every device found: DEVICE, ADDRESS, MAC,\n"
               "VERSION, SERIAL and MODE.\n"
               "  --xp    the KV-xR scan sends to each interface's directed broadcast\n"
               "          instead of 255.255.255.255\n"
               "  --json  one JSON array of objects instead of the table\n"
               "  --csv   (not with --json) the same fields as comma-separated values\n"
               "          for a spreadsheet: a header line of the JSON keys, one record per\n"
               "          device, CR LF line ends; a text starting with = + - or @ gets a\n"
               "          leading ' so that it is not run as a formula\n"
               "  --verbose, -v  also tells (on stderr) each interface, what was sent there\n"
               "          and how many replies of each kind came back\n"
               "When nothing is found it says why as far as it can tell (no usable\n"
               "interface, or no reply on the interfaces probed); the exit status is then 1\n"
               "if nothing answered at all.\n"
               "Exit status: 0 done, 1 the scan could not run or nothing answered, 2 usage error.",
               RunDiscover);

}  // namespace qs::cli
