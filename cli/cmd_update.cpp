// quillscan-cli update: what the program's firmware dialog does for a KV-xR
// device: loads the file, runs the library's update with its progress, then
// looks for the device until it is back and checks the version it reports.
#include <picojson.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/logic/update_outcome.h"
#include "cli/cmd_update_all.h"
#include "cli/command.h"
#include "cli/support_firmware.h"
#include "cli/support_kvxr.h"
#include "cli/support_progress.h"
#include "cli/support_spinner.h"
#include "cli/support_update.h"
#include "library/KV-xR_update.h"
#include "library/status_text.h"
#include "platform/tick.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "update";
constexpr uint32_t kProbeMs = 2000;

// Runs the update until its final status; false when the library fell
// silent or the time ran out (the job is then aborted).
bool RunUpdate(LibraryHost& host, int32_t handle, int32_t* status) {
  ProgressLine progress(kCmd);
  std::vector<UpdateEvent> events;
  const uint32_t start = plat::TickCount();
  uint32_t lastWord = start;
  bool programming = false;
  for (;;) {
    host.Run(200);
    TakeUpdateEvents(&events);
    for (const UpdateEvent& e : events) {
      if (e.device != handle) continue;
      lastWord = plat::TickCount();
      if (e.kind == kKindEnded) {
        progress.Clear();
        *status = e.value;
        return true;
      }
      if (e.kind == kKindPreparing) {
        if (e.value <= 0) progress.Note("restarting the device into its boot loader");
        else progress.Countdown("waiting for the boot loader", static_cast<uint32_t>(e.value));
      } else if (e.kind == kKindProgramming) {
        if (!programming) progress.Note("the boot loader answered; comparing and writing");
        else progress.Percent("writing", e.value < 0 ? 0u : static_cast<uint32_t>(e.value));
        programming = true;
      }
    }
    if (plat::TicksSince(lastWord) >= kSilenceLimitMs || plat::TicksSince(start) >= kUpdateLimitMs) {
      progress.Clear();
      KVxR_AbortUpdate(handle);
      Error(kCmd, "the library reported nothing about the update for " +
                      std::to_string(plat::TicksSince(lastWord) / 1000) + " s; given up");
      return false;
    }
  }
}

// Looks for the device until it reports a version, at most kComeBackMs.
bool WaitUntilBack(LibraryHost& host, bool limited, const KvxrDevice& before, KvxrDevice* back) {
  Spinner spinner(kCmd, "waiting for the device");
  const uint32_t start = plat::TickCount();
  for (;;) {
    uint32_t spent = plat::TicksSince(start);
    if (spent >= kComeBackMs) return false;
    uint32_t left = kComeBackMs - spent;
    uint32_t probeStart = plat::TickCount();
    KvxrDevice now;
    bool answered = ProbeKvxrDevice(host, limited, before.d.mac, left < kProbeMs ? left : kProbeMs, &now);
    // A device that did not answer the version query is asked again.
    if (answered && !app::IsZero(VersionOf(now.d))) {
      *back = now;
      return true;
    }
    uint32_t used = plat::TicksSince(probeStart);
    spent = plat::TicksSince(start);
    if (answered && used < kProbeMs && spent < kComeBackMs) {
      uint32_t rest = kProbeMs - used;
      host.Run(rest < kComeBackMs - spent ? rest : kComeBackMs - spent);
    }
  }
}

int RunUpdateCommand(const std::vector<std::string>& all) {
  for (const std::string& a : all)
    if (a == "--all") return RunUpdateAll(all);
  std::vector<std::string> args;
  const bool limited = TakeLimitedBroadcastOption(all, &args);
  bool json = false;
  std::vector<std::string> pos;
  for (const std::string& a : args) {
    if (a == "--json") json = true;
    else if (a.size() > 1 && a[0] == '-' && a[1] == '-') return UsageError(kCmd, "unknown option '" + a + "'");
    else pos.push_back(a);
  }
  if (pos.size() != 2)
    return UsageError(kCmd, pos.size() < 2 ? "a device and a firmware file are needed" : "one device and one file only");
  DeviceTarget target;
  std::string why;
  if (!ParseDeviceTarget(pos[0], &target, &why)) return UsageError(kCmd, why);
  // What is said along the way: on stdout, or with --json on stderr.
  auto say = [json](const std::string& text) {
    if (json) {
      std::fflush(stdout);
      std::fprintf(stderr, "quillscan-cli %s: %s\n", kCmd, text.c_str());
    } else {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    }
  };

  app::Version file;
  if (!LoadFirmwareArgument(kCmd, pos[1], &file)) return kExitFailed;
  LibraryHost host;
  KvxrDevice device;
  if (!OpenAndFindKvxrDevice(host, kCmd, target, limited, &device, "; nothing was changed")) return kExitFailed;
  const std::string mac = MacText(device.d.mac);
  const app::Version before = VersionOf(device.d);
  say(device.model + " " + mac + " at " + device.Address() + ": firmware " +
      (app::IsZero(before) ? std::string("unknown") : app::VersionText(before)) + "; the file holds " +
      app::VersionText(file));

  int32_t st = KVxR_UpdateFirmware(device.handle, OnUpdateEvent);
  if (st != 0) {
    Error(kCmd, "the update did not start: " + std::to_string(st) + ": " + kvxr::StatusMeaning(kvxr::Call::UpdateFirmware, st));
    return kExitFailed;
  }
  int32_t status = 0;
  if (!RunUpdate(host, device.handle, &status)) {
    LetScansEnd(host);
    return kExitFailed;
  }
  say("update ended with " + std::to_string(status) + ": " + kvxr::StatusMeaning(kvxr::Call::UpdateResult, status));

  KvxrDevice back;
  bool isBack = WaitUntilBack(host, limited, device, &back);
  const app::Version after = isBack ? VersionOf(back.d) : app::Version{};
  if (isBack) say(back.model + " " + mac + " is back at " + back.Address() + " with firmware " + app::VersionText(after));
  LetScansEnd(host);
  host.Close();

  if (json) {
    picojson::object o = UpdateJson(&status, before, isBack ? &after : nullptr, file);
    std::printf("%s\n", picojson::value(o).serialize().c_str());
    std::fflush(stdout);
  }
  switch (app::JudgeUpdate(status, isBack, after, file)) {
    case app::UpdateVerdict::Done:
      return kExitOk;
    case app::UpdateVerdict::Failed:
      Error(kCmd, "the update failed: " + std::to_string(status) + ": " + kvxr::StatusMeaning(kvxr::Call::UpdateResult, status) +
                      (isBack ? "; the device answers with firmware " + app::VersionText(after)
                              : "; the device was not seen again within " + std::to_string(kComeBackMs / 1000) +
                                    " s (a unit left in its boot loader is brought back with 'quillscan-cli recover')"));
      return kExitFailed;
    case app::UpdateVerdict::NotBack:
      Error(kCmd, "the update ended with " + std::to_string(status) + " but " + mac + " was not seen again within " +
                      std::to_string(kComeBackMs / 1000) + " s: its version is not confirmed");
      return kExitFailed;
    case app::UpdateVerdict::OtherVersion:
      Error(kCmd, "the update ended with " + std::to_string(status) + " but " + mac + " came back with firmware " +
                      app::VersionText(after) + ", not the file's " + app::VersionText(file) + ": not updated");
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace

QS_CLI_COMMAND(g_update, "update",
               "update <MAC|address> <FILE> [--xp] [--json]\n"
               "       quillscan-cli update --all <FILE> [--older] [--parallel N] [--xp] [--json]",
               "Updates the firmware of a KV-xR device as the program's firmware dialog does:\n"
               "loads the file (Intel HEX or S-record), finds the device by a scan, restarts it\n"
               "into its boot loader and writes the parts of the image that differ. Progress\n"
               "goes to stderr (the countdown while the device restarts, the percentage while\n"
               "it writes). Then it looks for the device until it is back (at most 30 s) and\n"
               "reads the version it reports.\n"
               "  --xp    the scans send to each interface's directed broadcast instead of\n"
               "          255.255.255.255\n"
               "  --json  once the update has ended, one object on stdout: \"status\" (the\n"
               "          library's final status), \"before\" and \"after\" (the device's version,\n"
               "          [major, minor]; null when unknown, \"after\" null when the device\n"
               "          did not come back) and \"file\" (the file's version)\n"
               "With --all every KV-xR device the scan finds is updated, up to N at once:\n"
               "  --older       only those whose version is below the file's (the others are\n"
               "                listed as skipped, with the reason)\n"
               "  --parallel N  updates at once, 1-32 (default 8)\n"
               "  --json        one array on stdout: per device the object above and \"mac\"\n"
               "                (a skipped device: \"status\" null and \"skipped\", the reason)\n"
               "  One line per device as it ends (model, MAC, address, versions before and\n"
               "  after, the final status and its meaning), then the counts. Ctrl+C: no more\n"
               "  updates start and those under way end; a second Ctrl+C leaves them.\n"
               "Exit status: 0 the update ended with 1 (written) or 0 (already up to date) and\n"
               "the device came back with the file's version (with --all: every device not\n"
               "skipped, and at least one device found); 1 failed (the reason is printed, also\n"
               "when the device came back with another version); 2 usage error.",
               RunUpdateCommand);

}  // namespace qs::cli
