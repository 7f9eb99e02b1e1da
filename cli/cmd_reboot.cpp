// quillscan-cli reboot: restarts a KV-xR device (challenged reboot).
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/support_kvxr.h"
#include "library/KV-xR_update.h"

namespace qs::cli {

namespace {

int RunReboot(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  const bool limited = TakeLimitedBroadcastOption(all, &args);
  std::string mac;
  if (args.size() != 1 || !ParseMacArgument(args[0], &mac)) {
    std::fprintf(stderr, "usage: quillscan-cli reboot <MAC> [--xp]   (MAC: six hex pairs)\n");
    return kExitUsage;
  }
  LibraryHost host;
  KvxrDevice device;
  if (!OpenAndFindKvxrDevice(host, "reboot", mac, limited, &device)) return kExitFailed;
  int32_t st = KVxR_RebootDevice(device.handle);
  host.Close();
  if (st != 0) {
    std::fprintf(stderr, "quillscan-cli reboot: %s\n", StatusMeaning(KvxrCall::Reboot, st).c_str());
    return kExitFailed;
  }
  std::printf("%s %s at %s: rebooting\n", device.model.c_str(), mac.c_str(), device.address.c_str());
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_reboot, "reboot", "reboot <MAC> [--xp]",
               "Finds the KV-xR device by a scan and reboots it (answering its challenge).\n"
               "Exit status: 0 the device accepted, 1 failed (the reason is printed), 2 usage error.",
               RunReboot);

}  // namespace qs::cli
