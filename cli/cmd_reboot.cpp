// quillscan-cli reboot: restarts a KV-xR device (challenged reboot).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/support_kvxr.h"
#include "library/KV-xR_update.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "reboot";

int RunReboot(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  const bool limited = TakeLimitedBroadcastOption(all, &args);
  if (args.size() != 1) return UsageError(kCmd, args.empty() ? "a device is needed" : "one device only");
  DeviceTarget target;
  std::string why;
  if (!ParseDeviceTarget(args[0], &target, &why)) return UsageError(kCmd, why);
  LibraryHost host;
  KvxrDevice device;
  if (!OpenAndFindKvxrDevice(host, kCmd, target, limited, &device)) return kExitFailed;
  int32_t st = KVxR_RebootDevice(device.handle);
  host.Close();
  if (st != KVXR_OK) {
    Error(kCmd, "not restarted: " + kvxr::StatusText(kvxr::Call::RebootDevice, st));
    return kExitFailed;
  }
  std::printf("%s %s at %s: rebooting\n", device.model.c_str(), MacText(device.d.mac).c_str(),
              device.Address().c_str());
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_reboot, "reboot", "reboot <MAC|address> [--xp]",
               "Finds the KV-xR device by a scan and reboots it (answering its challenge).\n"
               "Exit status: 0 the device accepted, 1 failed (the reason is printed), 2 usage error.",
               RunReboot);

}  // namespace qs::cli
