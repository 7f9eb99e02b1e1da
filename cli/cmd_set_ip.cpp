// quillscan-cli set-ip: what the program's device page does for a KV-xR
// device: set-config, reboot, then looks for the device until it is back with
// the new settings.
#include <cstdio>
#include <string>
#include <vector>

#include "app/logic/address_rule.h"
#include "app/logic/comeback.h"
#include "cli/command.h"
#include "cli/support_kvxr.h"
#include "cli/support_spinner.h"
#include "library/KV-xR_update.h"
#include "runtime/bytes.h"
#include "platform/tick.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "set-ip";
constexpr uint32_t kComeBackMs = 30000;
// One look for the device: a live device's line comes within a few hundred
// milliseconds (a lost discover is sent again after 670 ms).
constexpr uint32_t kProbeMs = 2000;

std::string Describe(const KvxrDevice& d) {
  return d.Address() + " (" + (d.d.dhcp ? "DHCP" : "static") + ", netmask " + bytes::FormatIpv4(d.d.netmask) +
         ", gateway " + bytes::FormatIpv4(d.d.gateway) + ")";
}

// Looks for the device until the check takes a report, at most kComeBackMs
// all told. The exit status.
int WaitForComeback(LibraryHost& host, bool limited, const KvxrDevice& before, const app::ComebackCheck& initial) {
  app::ComebackCheck check = initial;
  const std::string mac = MacText(before.d.mac);
  KvxrDevice last;
  Spinner spinner(kCmd, "waiting for the device");
  const uint32_t start = plat::TickCount();
  for (;;) {
    uint32_t spent = plat::TicksSince(start);
    if (spent >= kComeBackMs) break;
    uint32_t left = kComeBackMs - spent;
    uint32_t probeStart = plat::TickCount();
    KvxrDevice now;
    bool answered = ProbeKvxrDevice(host, limited, before.d.mac, left < kProbeMs ? left : kProbeMs, &now);
    check.NoteProbe(answered);
    if (answered && check.Accept(true, now.Settings())) {
      spinner.Stop();
      std::printf("%s %s came back at %s\n", now.model.c_str(), mac.c_str(), Describe(now).c_str());
      return kExitOk;
    }
    if (answered) {
      last = now;
      // A new scan for each look, but not faster than one per probe time.
      uint32_t used = plat::TicksSince(probeStart);
      spent = plat::TicksSince(start);
      uint32_t rest = kProbeMs > used ? kProbeMs - used : 0;
      if (spent < kComeBackMs) host.Run(rest < kComeBackMs - spent ? rest : kComeBackMs - spent);
    }
  }
  spinner.Stop();
  std::string why = mac + " was not reported with its new settings within " + std::to_string(kComeBackMs / 1000) + " s";
  if (check.sameAsBefore() && !check.seenSilent())
    why = mac + " kept answering and was never seen restarting within " + std::to_string(kComeBackMs / 1000) +
          " s; the settings are the ones it had, so only a restart would show that it took them";
  else if (last.handle != 0)
    why += "; last seen at " + Describe(last);
  Error(kCmd, why);
  return kExitFailed;
}

int RunSetIp(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  const bool limited = TakeLimitedBroadcastOption(all, &args);
  if (args.size() < 2) return UsageError(kCmd, args.empty() ? "a device and the settings are needed" : "the settings are missing");
  DeviceTarget target;
  std::string why;
  if (!ParseDeviceTarget(args[0], &target, &why)) return UsageError(kCmd, why);
  app::NetSettings wanted;
  wanted.dhcp = args[1] == "dhcp";
  if (wanted.dhcp) {
    if (args.size() != 2) return UsageError(kCmd, "dhcp takes no addresses");
  } else if (args[1] == "static") {
    if (args.size() != 5) return UsageError(kCmd, "static needs an address, a netmask and a gateway");
    const char* names[] = {"address", "netmask", "gateway"};
    uint32_t* values[] = {&wanted.address, &wanted.netmask, &wanted.gateway};
    for (int i = 0; i < 3; ++i)
      if (!ParseAddressArgument(args[2 + i], values[i]))
        return UsageError(kCmd, std::string(names[i]) + " '" + args[2 + i] + "' is not a dotted IPv4 address");
    app::StaticCheck c = app::CheckStaticSettings(wanted.address, wanted.netmask, wanted.gateway);
    if (c.problem != app::StaticProblem::None)
      return UsageError(kCmd, app::StaticProblemText(c.problem, wanted.address, wanted.netmask, wanted.gateway) +
                                  "; nothing was sent");
    if (c.gatewayOutside) Error(kCmd, "warning: " + app::GatewayOutsideText(wanted.address, wanted.netmask, wanted.gateway));
  } else {
    return UsageError(kCmd, "the mode is 'dhcp' or 'static', not '" + args[1] + "'");
  }

  LibraryHost host;
  KvxrDevice device;
  if (!OpenAndFindKvxrDevice(host, kCmd, target, limited, &device, "; nothing was changed")) return kExitFailed;
  const std::string mac = MacText(device.d.mac);
  std::u16string text = app::ConfigText(wanted);
  std::printf("%s %s at %s: sending %s settings\n", device.model.c_str(), mac.c_str(), device.Address().c_str(),
              wanted.dhcp ? "DHCP" : "static");
  std::fflush(stdout);
  int32_t st = KVxR_SetNetworkCfg(device.handle, reinterpret_cast<const KVxR_WCHAR*>(text.c_str()), 3000);
  if (st != KVXR_OK) {
    Error(kCmd, "settings not taken: " + kvxr::StatusText(kvxr::Call::SetNetworkCfg, st));
    return kExitFailed;
  }
  st = KVxR_RebootDevice(device.handle);
  if (st != KVXR_OK) {
    Error(kCmd, "the device stored the settings but did not restart: " +
                    kvxr::StatusText(kvxr::Call::RebootDevice, st) + "\n  (they take effect at its next restart)");
    return kExitFailed;
  }
  std::printf("settings taken, device restarting; waiting for it to come back (at most %u s)\n",
              static_cast<unsigned>(kComeBackMs / 1000));
  std::fflush(stdout);
  int rc = WaitForComeback(host, limited, device, app::ComebackCheck(device.Settings(), wanted));
  std::fflush(stdout);
  LetScansEnd(host);
  host.Close();
  return rc;
}

}  // namespace

QS_CLI_COMMAND(g_setIp, "set-ip", "set-ip <MAC|address> dhcp | static <address> <netmask> <gateway> [--xp]",
               "Changes the IP settings of a KV-xR device as the program's device page does:\n"
               "finds it by a scan, sends the settings, restarts it, then looks for it until\n"
               "it is reported with them (at most 30 s) and says where it came back. When the\n"
               "settings are the ones it had, only a report after it once stopped answering\n"
               "counts. A static address must be a host address of its netmask; a gateway\n"
               "outside that subnet is sent with a warning.\n"
               "  --xp  the scans send to each interface's directed broadcast instead of\n"
               "        255.255.255.255\n"
               "Exit status: 0 done, 1 failed (the reason is printed), 2 usage error.",
               RunSetIp);

}  // namespace qs::cli
