// quillscan-cli opmode: reads or writes a KV-xR device's operation mode byte.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/support_kvxr.h"
#include "cli/support_opmode_query.h"
#include "cli/support_spinner.h"
#include "library/KV-xR_update.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "opmode";

// 0-255, decimal or 0x hex.
bool ParseByte(const std::string& t, uint8_t* out) {
  if (t.empty() || t.size() > 4) return false;
  unsigned v = 0;
  bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
  for (size_t i = hex ? 2 : 0; i < t.size(); ++i) {
    char c = t[i];
    int d = c >= '0' && c <= '9' ? c - '0' : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                        : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = v * (hex ? 16 : 10) + static_cast<unsigned>(d);
  }
  if (v > 255) return false;
  *out = static_cast<uint8_t>(v);
  return true;
}

int ShowMode(const KvxrDevice& device, uint8_t mode) {
  std::printf("%s %s: operation mode %u (0x%02X)\n", device.model.c_str(), MacText(device.d.mac).c_str(), mode, mode);
  return kExitOk;
}

// The library's value; when it is 0, the device's own word.
int ReadMode(LibraryHost& host, const KvxrDevice& device, bool limited) {
  uint8_t mode = 0;
  int32_t st = KVxR_ReadOperationMode(device.handle, &mode);
  OpModeQuestion q;
  q.deviceAddress = device.d.address;
  q.limitedBroadcast = limited;
  int32_t idSt = st == KVXR_OK && mode == 0 ? KVxR_GetHardwareID(device.handle, q.hardwareId) : KVXR_OK;
  host.Close();
  if (st != KVXR_OK || idSt != KVXR_OK) {
    Error(kCmd, st != KVXR_OK ? kvxr::StatusText(kvxr::Call::ReadOperationMode, st)
                              : kvxr::StatusText(kvxr::Call::GetHardwareID, idSt));
    return kExitFailed;
  }
  if (mode != 0) return ShowMode(device, mode);
  // The library's 0 may be a report of 0, no report, or a report that came
  // after the announce: the device itself is asked.
  Spinner spinner(kCmd, "asking the device");
  const OpModeAnswer a = AskOperationMode(q);
  spinner.Stop();
  if (a.outcome == OpModeOutcome::Heard) return ShowMode(device, a.mode);
  if (a.outcome == OpModeOutcome::NotAsked) {
    Error(kCmd, "the device could not be asked itself (" + a.why + "); the library's 0 means mode 0 or no report");
    return kExitFailed;
  }
  std::printf("%s %s: operation mode unknown (the device sent no operation-mode report)\n", device.model.c_str(),
              MacText(device.d.mac).c_str());
  return kExitOk;
}

int RunOpMode(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  const bool limited = TakeLimitedBroadcastOption(all, &args);
  if (args.empty() || args.size() > 2)
    return UsageError(kCmd, args.empty() ? "a device is needed" : "a device and at most one value");
  DeviceTarget target;
  std::string why;
  if (!ParseDeviceTarget(args[0], &target, &why)) return UsageError(kCmd, why);
  uint8_t value = 0;
  if (args.size() == 2 && !ParseByte(args[1], &value))
    return UsageError(kCmd, "'" + args[1] + "' is no operation mode: 0 to 255, decimal or 0x hex");
  LibraryHost host;
  KvxrDevice device;
  if (!OpenAndFindKvxrDevice(host, kCmd, target, limited, &device)) return kExitFailed;
  if (args.size() == 1) return ReadMode(host, device, limited);
  const std::string mac = MacText(device.d.mac);
  int32_t st = KVxR_WriteOperationMode(device.handle, value);
  host.Close();
  if (st != KVXR_OK) {
    Error(kCmd, "not written: " + kvxr::StatusText(kvxr::Call::WriteOperationMode, st));
    return kExitFailed;
  }
  std::printf("%s %s: operation mode set to %u (0x%02X)\n", device.model.c_str(), mac.c_str(), value, value);
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_opmode, "opmode", "opmode <MAC|address> [<value>] [--xp]",
               "Without a value: the operation mode of the KV-xR device. When the library's scan\n"
               "holds 0 (also its value when no report came), the device is asked itself for\n"
               "up to 2 s; \"unknown\" when it sent no operation-mode report.\n"
               "With a value (0-255, decimal or 0x hex): writes it to the device.\n"
               "Exit status: 0 done (also for \"unknown\": the device was found and asked; it\n"
               "just sends no report), 1 failed (the reason is printed), 2 usage error.",
               RunOpMode);

}  // namespace qs::cli
