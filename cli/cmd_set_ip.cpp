// quillscan-cli set-ip: what the program's device page does for a KV-xR
// device: set-config, reboot, then scans until the device is back.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/support_kvxr.h"
#include "library/KV-xR_update.h"
#include "platform/tick.h"

namespace qs::cli {

namespace {

constexpr uint32_t kComeBackMs = 30000;
const char kUsage[] = "usage: quillscan-cli set-ip <MAC> dhcp [--xp]\n"
                      "       quillscan-cli set-ip <MAC> static <address> <netmask> <gateway> [--xp]\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "quillscan-cli set-ip: %s\n%s", why.c_str(), kUsage);
  return kExitUsage;
}

int RunSetIp(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  const bool limited = TakeLimitedBroadcastOption(all, &args);
  std::string mac;
  if (args.size() < 2) return Usage("missing arguments");
  if (!ParseMacArgument(args[0], &mac)) return Usage("'" + args[0] + "' is not a MAC address (six hex pairs)");
  bool dhcp = args[1] == "dhcp";
  uint32_t addr = 0, mask = 0, gw = 0;
  if (dhcp) {
    if (args.size() != 2) return Usage("dhcp takes no addresses");
  } else if (args[1] == "static") {
    if (args.size() != 5) return Usage("static needs an address, a netmask and a gateway");
    if (!ParseDottedQuad(args[2], &addr)) return Usage("address '" + args[2] + "' is not a dotted IPv4 address");
    if (!ParseDottedQuad(args[3], &mask)) return Usage("netmask '" + args[3] + "' is not a dotted IPv4 address");
    if (!ParseDottedQuad(args[4], &gw)) return Usage("gateway '" + args[4] + "' is not a dotted IPv4 address");
    if (!IsContiguousNetmask(mask)) return Usage("netmask '" + args[3] + "' is not a run of ones then zeros");
    if (addr == 0 || (addr & ~mask) == 0 || (addr | mask) == 0xFFFFFFFFu)
      return Usage("address '" + args[2] + "' is not a host address in that netmask");
  } else {
    return Usage("the mode is 'dhcp' or 'static', not '" + args[1] + "'");
  }

  LibraryHost host;
  KvxrDevice device;
  if (!OpenAndFindKvxrDevice(host, "set-ip", mac, limited, &device, "; nothing was changed")) return kExitFailed;
  const KvxrDevice before = device;
  int32_t st = 0;
  std::string text = dhcp ? "DHCP|*|*|*"
                          : "static|" + DottedText(addr) + "|" + DottedText(mask) + "|" + DottedText(gw);
  std::u16string wide(text.begin(), text.end());
  std::printf("%s %s at %s: sending %s settings\n", before.model.c_str(), mac.c_str(), before.address.c_str(),
              dhcp ? "DHCP" : "static");
  std::fflush(stdout);
  st = KVxR_SetNetworkCfg(before.handle, reinterpret_cast<const KVxR_WCHAR*>(wide.c_str()), 3000);
  if (st != 0) {
    std::fprintf(stderr, "quillscan-cli set-ip: settings not taken: %s\n",
                 StatusMeaning(KvxrCall::SetNetworkCfg, st).c_str());
    return kExitFailed;
  }
  st = KVxR_RebootDevice(before.handle);
  if (st != 0) {
    std::fprintf(stderr,
                 "quillscan-cli set-ip: the device took the settings but did not reboot: %s\n"
                 "  (they take effect at its next restart)\n",
                 StatusMeaning(KvxrCall::Reboot, st).c_str());
    return kExitFailed;
  }
  std::printf("settings taken, device rebooting; waiting for it to come back (at most %u s)\n",
              static_cast<unsigned>(kComeBackMs / 1000));
  std::fflush(stdout);

  const uint32_t start = plat::TickCount();
  while (plat::TicksSince(start) < kComeBackMs) {
    std::map<std::string, KvxrDevice> found;
    if (!ScanKvxrDevices(host, limited, &found, &st)) break;
    auto it = found.find(mac);
    if (it == found.end()) continue;
    const KvxrDevice& now = it->second;
    bool settled = dhcp ? now.dhcp : (!now.dhcp && now.address == DottedText(addr));
    if (!settled) continue;
    std::printf("%s %s came back at %s (%s, netmask %s, gateway %s)\n", now.model.c_str(), mac.c_str(),
                now.address.c_str(), now.dhcp ? "DHCP" : "static", now.netmask.c_str(), now.gateway.c_str());
    host.Close();
    return kExitOk;
  }
  std::fprintf(stderr, "quillscan-cli set-ip: %s was not reported with its new settings within %u s\n", mac.c_str(),
               static_cast<unsigned>(kComeBackMs / 1000));
  host.Close();
  return kExitFailed;
}

}  // namespace

QS_CLI_COMMAND(g_setIp, "set-ip", "set-ip <MAC> dhcp | static <address> <netmask> <gateway> [--xp]",
               "Changes the IP settings of a KV-xR device as the program's device page does:\n"
               "finds it by a scan, sends the settings, reboots it, then scans until it is\n"
               "reported again with them (at most 30 s) and says where it came back.\n"
               "  --xp  the scans send to each interface's directed broadcast instead of\n"
               "        255.255.255.255\n"
               "Exit status: 0 done, 1 failed (the reason is printed), 2 usage error.",
               RunSetIp);

}  // namespace qs::cli
