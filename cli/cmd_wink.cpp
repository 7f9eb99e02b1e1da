// quillscan-cli wink <MAC|address>: scans, finds the device and sends the
// wink that suits its firmware, saying which datagram went out.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/logic/wink_rule.h"
#include "cli/command.h"
#include "cli/support_scan.h"
#include "cli/support_target.h"
#include "discovery/wink.h"
#include "platform/text.h"
#include "runtime/bytes.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "wink";

// Sends the wink and says which datagram went out; the exit status.
int Wink(disc::IDeviceInfoX* device) {
  const std::string name = plat::WideToUtf8(device->GetName());
  uint8_t mac[6];
  device->GetMac(mac);
  const std::string macText = MacText(mac);
  const disc::VersionPair& v = device->GetVersion();
  uint8_t id[16];
  device->GetHardwareId(id);
  app::WinkRefusal refusal =
      app::CheckWink(device->CanWink(), disc::ChooseWink(v) == disc::WinkKind::Authenticated, id);
  if (refusal != app::WinkRefusal::None) {
    Error(kCmd, name + " " + macText + ": " + app::WinkRefusalText(refusal) + "; nothing was sent");
    return kExitFailed;
  }
  disc::WinkOutcome w = disc::SendWinkTo(device);
  if (w.kind == disc::WinkKind::Legacy) {
    if (!w.sent) {
      Error(kCmd, "the text wink to " + bytes::FormatIpv4(w.target) + " could not be sent");
      return kExitFailed;
    }
    std::printf("%s %s (firmware %u.%03u): sent the text wink \"Wink\" (4 bytes) to %s, UDP port %u\n", name.c_str(),
                macText.c_str(), static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor),
                bytes::FormatIpv4(w.target).c_str(), disc::kCommandPort);
    return kExitOk;
  }
  if (!w.sent) {
    Error(kCmd, "the authenticated wink could not be sent from any interface");
    return kExitFailed;
  }
  std::string from;
  for (uint32_t a : w.from) from += (from.empty() ? "" : ", ") + bytes::FormatIpv4(a);
  std::printf("%s %s: sent the authenticated wink (command 0xC104, %zu bytes) to 255.255.255.255, UDP port %u, "
              "from %zu interface%s (%s)\n",
              name.c_str(), macText.c_str(), disc::kWinkRequestSize, disc::kCommandPort, w.sent, w.sent == 1 ? "" : "s",
              from.c_str());
  return kExitOk;
}

int RunWink(const std::vector<std::string>& args) {
  disc::FullScanOptions opt;
  std::vector<std::string> rest;
  for (const std::string& a : args) {
    if (a == "--xp") opt.discoveryMode = false;
    else rest.push_back(a);
  }
  if (rest.size() != 1) return UsageError(kCmd, rest.empty() ? "a device is needed" : "one device only");
  DeviceTarget target;
  std::string why;
  if (!ParseDeviceTarget(rest[0], &target, &why)) return UsageError(kCmd, why);
  ConsoleScan scan;
  if (!scan.Run(kCmd, opt)) return kExitFailed;
  if (scan.NothingSent(kCmd)) return kExitFailed;
  int rc = kExitFailed;
  Ref<disc::IDeviceInfoX> device;
  std::vector<Ref<disc::IDeviceInfoX>> matches;
  for (const Ref<disc::IDeviceInfoX>& d : scan.devices()) {
    uint8_t m[6];
    d->GetMac(m);
    if (!TargetMatches(target, m, d->GetAddress())) continue;
    // Two models may share a MAC; the one that can wink is meant.
    if (!device || (!device->CanWink() && d->CanWink())) device = d;
    matches.push_back(d);
  }
  // By address, devices with different MACs are different devices.
  bool ambiguous = false;
  std::string macs;
  for (const Ref<disc::IDeviceInfoX>& d : matches) {
    uint8_t a[6], b[6];
    d->GetMac(a);
    device->GetMac(b);
    if (std::memcmp(a, b, 6) != 0) ambiguous = true;
    if (macs.find(MacText(a)) == std::string::npos) macs += (macs.empty() ? "" : ", ") + MacText(a);
  }
  if (!device) {
    Error(kCmd, "no device with " + TargetText(target) + " answered the scan");
  } else if (ambiguous) {
    Error(kCmd, std::to_string(matches.size()) + " devices answer at " + bytes::FormatIpv4(target.address) + " (" + macs +
                    "): name one by its MAC");
    rc = kExitFailed;
  } else {
    if (matches.size() > 1)
      Error(kCmd, "note: " + std::to_string(matches.size()) + " devices report MAC " + macs + "; the " +
                      plat::WideToUtf8(device->GetName()) + " gets the wink");
    rc = Wink(device.get());
  }
  return rc;
}

}  // namespace

QS_CLI_COMMAND(g_wink, "wink", "wink <MAC|address> [--xp]",
               "Scans like 'discover', finds the device with this MAC (00-11-22-33-44-55 or\n"
               "00:11:22:33:44:55) or IPv4 address and makes it identify itself: firmware 0.1\n"
               "to 0.136 gets the text \"Wink\" at its address; any other (or unknown) version\n"
               "gets the authenticated wink by broadcast from every local interface, which\n"
               "names the device by the hardware identifier the KV-xR library reported (without\n"
               "one nothing is sent). Only models that can wink (the KV-xR family) are sent one.\n"
               "  --xp  the KV-xR scan sends to each interface's directed broadcast instead of\n"
               "        255.255.255.255\n"
               "Exit status: 0 sent, 1 not found or not sent, 2 usage error.",
               RunWink);

}  // namespace qs::cli
