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
  bool limited = true;
  for (const std::string& a : all) {
    if (a == "--xp") limited = false;
    else args.push_back(a);
  }
  std::string mac;
  if (args.size() != 1 || !ParseMacArgument(args[0], &mac)) {
    std::fprintf(stderr, "usage: quillscan-cli reboot <MAC> [--xp]   (MAC: six hex pairs)\n");
    return kExitUsage;
  }
  LibraryHost host;
  if (!host.Open()) {
    std::fprintf(stderr, "quillscan-cli reboot: no window for the library's notifications\n");
    return kExitFailed;
  }
  std::map<std::string, KvxrDevice> found;
  int32_t st = 0;
  if (!ScanKvxrDevices(host, limited, &found, &st)) {
    std::fprintf(stderr, "quillscan-cli reboot: the KV-xR scan did not run (status %d)\n", static_cast<int>(st));
    return kExitFailed;
  }
  auto it = found.find(mac);
  if (it == found.end()) {
    std::fprintf(stderr, "quillscan-cli reboot: no KV-xR device %s answered the scan\n", mac.c_str());
    return kExitFailed;
  }
  st = KVxR_RebootDevice(it->second.handle);
  host.Close();
  if (st != 0) {
    std::fprintf(stderr, "quillscan-cli reboot: %s\n", StatusMeaning(KvxrCall::Reboot, st).c_str());
    return kExitFailed;
  }
  std::printf("%s %s at %s: rebooting\n", it->second.model.c_str(), mac.c_str(), it->second.address.c_str());
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_reboot, "reboot", "reboot <MAC> [--xp]",
               "Finds the KV-xR device by a scan and reboots it (answering its challenge).\n"
               "Exit status: 0 the device accepted, 1 failed (the reason is printed), 2 usage error.",
               RunReboot);

}  // namespace qs::cli
