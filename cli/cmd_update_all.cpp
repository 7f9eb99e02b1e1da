// quillscan-cli update --all: every KV-xR device one scan finds is updated
// with one firmware file, several at once. The library's jobs share what they
// can per adapter (the RAM-program stream, the boot-message watcher, the
// recovery scan), so running them side by side costs no more traffic than one.
//
// The updates run first, without scans in between: a scan would replace the
// handles of the devices still waiting for their turn. Once the last has
// ended, scans look for every updated device until it is back, and each
// device's line is printed as it is seen (the same rule as the single update
// decides whether it is done).
#include "cli/cmd_update_all.h"

#include <picojson.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/logic/update_outcome.h"
#include "cli/command.h"
#include "cli/support_firmware.h"
#include "cli/support_interrupt.h"
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
constexpr uint32_t kDefaultParallel = 8;
constexpr uint32_t kMaxParallel = 32;
constexpr size_t kMaxDevices = 1024;
constexpr uint32_t kProbeMs = 2000;
// Plain progress lines: every this many percent of a write, every this many
// seconds of the wait for the boot loader.
constexpr uint32_t kPercentStep = 25;
constexpr int32_t kCountdownStepS = 10;

struct Options {
  std::string file;
  bool older = false;
  uint32_t parallel = kDefaultParallel;
  bool limited = true;
  bool json = false;
};

// Returns kExitOk, or the usage error already reported.
int ParseOptions(const std::vector<std::string>& all, Options* o) {
  std::vector<std::string> args;
  o->limited = TakeLimitedBroadcastOption(all, &args);
  std::vector<std::string> pos;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--all") {
      continue;
    } else if (a == "--older") {
      o->older = true;
    } else if (a == "--json") {
      o->json = true;
    } else if (a == "--parallel") {
      const std::string n = i + 1 < args.size() ? args[++i] : std::string();
      uint32_t v = 0;
      bool digits = !n.empty() && n.size() <= 2;
      for (char c : n) {
        digits = digits && c >= '0' && c <= '9';
        v = v * 10 + static_cast<uint32_t>(c - '0');
      }
      if (!digits || v < 1 || v > kMaxParallel)
        return UsageError(kCmd, "--parallel takes a number from 1 to " + std::to_string(kMaxParallel) +
                                    (n.empty() ? std::string() : ", not '" + n + "'"));
      o->parallel = v;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return UsageError(kCmd, "unknown option '" + a + "'");
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 1)
    return UsageError(kCmd, pos.empty() ? "--all needs a firmware file" : "--all takes a firmware file and no device");
  o->file = pos[0];
  return kExitOk;
}

enum class Stage { Skipped, Queued, Running, Ended };

// One device of the batch.
struct Job {
  KvxrDevice device;
  std::string mac;
  app::Version before;
  Stage stage = Stage::Queued;
  std::string skipped;  // why it is left alone
  bool stopped = false;  // its stop event: it starts no more and is not waited for
  bool hasStatus = false;
  int32_t status = 0;
  std::string failure;  // why it ended without a status
  bool programming = false;
  int32_t shownPercent = -1;
  int32_t shownSeconds = -1;
  uint32_t startTick = 0;
  uint32_t lastWord = 0;
  bool back = false;
  app::Version after;
  std::string address;  // where it was last seen

  void Stop() { stopped = true; }
};

std::string VersionOrUnknown(const app::Version& v) { return app::IsZero(v) ? "unknown" : app::VersionText(v); }

// The device's line once it has ended (or was skipped); lookedFor: scans
// looked for it after its update (not after an interrupt).
std::string ResultLine(const Job& j, const app::Version& file, bool lookedFor) {
  std::string head = j.device.model + " " + j.mac + " at " + j.address + ": firmware " + VersionOrUnknown(j.before);
  if (j.stage == Stage::Skipped) return head + ": skipped, " + j.skipped;
  if (!j.hasStatus) return head + ": " + j.failure;
  head += " -> ";
  if (j.back) head += app::VersionText(j.after);
  else if (lookedFor) head += "not seen again within " + std::to_string(kComeBackMs / 1000) + " s";
  else head += "not looked for (interrupted)";
  head += ": " + kvxr::StatusText(kvxr::Call::UpdateResult, j.status);
  switch (app::JudgeUpdate(j.status, j.back, j.after, file)) {
    case app::UpdateVerdict::Done:
    case app::UpdateVerdict::Failed:
      return head;
    case app::UpdateVerdict::NotBack:
      return head + "; its version is not confirmed";
    case app::UpdateVerdict::OtherVersion:
      return head + "; but that is not the file's " + app::VersionText(file);
  }
  return head;
}

class Batch {
 public:
  Batch(const Options& o, const app::Version& file) : o_(o), file_(file), progress_(kCmd) {}

  // Results: on stdout, or with --json on stderr (stdout holds the array).
  void Say(const std::string& text) {
    progress_.Clear();
    std::fflush(stdout);
    std::fprintf(o_.json ? stderr : stdout, "%s%s\n", o_.json ? "quillscan-cli update: " : "", text.c_str());
    std::fflush(o_.json ? stderr : stdout);
  }

  void Take(const std::vector<KvxrDevice>& found) {
    for (const KvxrDevice& d : found) {
      Job j;
      j.device = d;
      j.mac = MacText(d.d.mac);
      j.address = d.Address();
      j.before = VersionOf(d.d);
      if (o_.older) {
        if (app::IsZero(j.before)) j.skipped = "its version is unknown (no answer to the version query)";
        else if (j.before == file_) j.skipped = "already at the file's version";
        else if (file_ < j.before) j.skipped = "newer than the file's " + app::VersionText(file_);
        if (!j.skipped.empty()) j.stage = Stage::Skipped;
      }
      jobs_.push_back(j);
    }
  }

  size_t Count(Stage s) const {
    size_t n = 0;
    for (const Job& j : jobs_) n += j.stage == s;
    return n;
  }

  // Runs the updates, up to o_.parallel at once, until each has ended.
  // false when interrupted.
  bool Update(LibraryHost& host) {
    std::vector<UpdateEvent> events;
    TakeUpdateEvents(&events);  // none of ours yet
    bool draining = false;
    for (;;) {
      if (Interrupted() && !draining) {
        draining = true;
        StopAll("not started: interrupted");
        size_t running = Count(Stage::Running);
        progress_.Note("interrupted: no more updates start" +
                       (running ? "; waiting for the " + std::to_string(running) +
                                      " under way to end (Ctrl+C again to leave them)"
                                : std::string()));
      }
      if (InterruptCount() >= 2) {
        LeaveRunning();
        return false;
      }
      StartQueued();
      if (Count(Stage::Running) == 0 && Count(Stage::Queued) == 0) return !draining;
      host.Run(200);
      TakeUpdateEvents(&events);
      for (const UpdateEvent& e : events) {
        auto it = byHandle_.find(e.device);
        if (it != byHandle_.end()) OnEvent(jobs_[it->second], e);
      }
      GiveUpSilent();
      progress_.Status("updating: " + std::to_string(Count(Stage::Running)) + " running, " +
                       std::to_string(Count(Stage::Ended)) + " ended, " + std::to_string(Count(Stage::Queued)) +
                       " waiting");
    }
  }

  // Scans until every device that was updated is back with a version, at
  // most kComeBackMs; prints each line as its device is seen.
  void AwaitComeBack(LibraryHost& host) {
    std::vector<size_t> pending;
    for (size_t i = 0; i < jobs_.size(); ++i)
      if (jobs_[i].stage == Stage::Ended && jobs_[i].hasStatus) pending.push_back(i);
      else if (jobs_[i].stage == Stage::Ended) Say(ResultLine(jobs_[i], file_, false));
    progress_.Clear();
    const bool looking = !Interrupted();
    Spinner spinner(kCmd, "waiting for the devices");
    const uint32_t start = plat::TickCount();
    while (!pending.empty() && !Interrupted()) {
      uint32_t spent = plat::TicksSince(start);
      if (spent >= kComeBackMs) break;
      uint32_t left = kComeBackMs - spent;
      std::vector<std::array<uint8_t, 6>> macs;
      for (size_t i : pending) {
        std::array<uint8_t, 6> m{};
        std::memcpy(m.data(), jobs_[i].device.d.mac, 6);
        macs.push_back(m);
      }
      const uint32_t probeStart = plat::TickCount();
      std::vector<KvxrDevice> seen;
      ProbeKvxrDevices(host, o_.limited, macs, left < kProbeMs ? left : kProbeMs, &seen);
      std::vector<size_t> still;
      for (size_t i : pending) {
        Job& j = jobs_[i];
        for (const KvxrDevice& d : seen) {
          // A device that did not answer the version query is asked again.
          if (std::memcmp(d.d.mac, j.device.d.mac, 6) != 0 || app::IsZero(VersionOf(d.d))) continue;
          j.back = true;
          j.after = VersionOf(d.d);
          j.address = d.Address();
        }
        if (j.back) {
          spinner.Stop();
          Say(ResultLine(j, file_, true));
        } else {
          still.push_back(i);
        }
      }
      pending.swap(still);
      // Every one answered, some without a version: ask again after a pause.
      uint32_t used = plat::TicksSince(probeStart);
      spent = plat::TicksSince(start);
      if (!pending.empty() && used < kProbeMs && spent < kComeBackMs) {
        uint32_t rest = kProbeMs - used;
        host.Run(rest < kComeBackMs - spent ? rest : kComeBackMs - spent);
      }
    }
    spinner.Stop();
    for (size_t i : pending) Say(ResultLine(jobs_[i], file_, looking && !Interrupted()));
  }

  void SaySkipped() {
    for (const Job& j : jobs_)
      if (j.stage == Stage::Skipped) Say(ResultLine(j, file_, false));
  }

  // Counts of the summary; true when every device not skipped is done.
  bool Summary() {
    size_t updated = 0, current = 0, failed = 0, skipped = 0, atVersion = 0;
    for (const Job& j : jobs_) {
      if (j.stage == Stage::Skipped) {
        ++skipped;
        atVersion += j.before == file_;
        continue;
      }
      if (j.hasStatus && app::JudgeUpdate(j.status, j.back, j.after, file_) == app::UpdateVerdict::Done)
        ++(j.status == KVXR_UPDATE_WRITTEN ? updated : current);
      else
        ++failed;
    }
    std::string text = std::to_string(jobs_.size()) + " KV-xR devices: " + std::to_string(updated) + " updated, " +
                       std::to_string(current) + " already current, " + std::to_string(failed) + " failed, " +
                       std::to_string(skipped) + " skipped";
    if (skipped) {
      text += " (" + std::to_string(atVersion) + " at " + app::VersionText(file_);
      if (skipped > atVersion) text += ", " + std::to_string(skipped - atVersion) + " newer or of unknown version";
      text += ")";
    }
    Say(text);
    return failed == 0;
  }

  void PrintJson() const {
    picojson::array out;
    for (const Job& j : jobs_) {
      picojson::object o =
          UpdateJson(j.hasStatus ? &j.status : nullptr, j.before,
                     j.back ? &j.after : (j.stage == Stage::Skipped ? &j.before : nullptr), file_);
      o["mac"] = picojson::value(j.mac);
      if (j.stage == Stage::Skipped) o["skipped"] = picojson::value(j.skipped);
      out.push_back(picojson::value(o));
    }
    std::printf("%s\n", picojson::value(out).serialize().c_str());
    std::fflush(stdout);
  }

 private:
  void StartQueued() {
    size_t running = Count(Stage::Running);
    for (size_t i = 0; i < jobs_.size() && running < o_.parallel; ++i) {
      Job& j = jobs_[i];
      if (j.stage != Stage::Queued || j.stopped) continue;
      int32_t st = KVxR_UpdateFirmware(j.device.handle, OnUpdateEvent);
      if (st != 0) {
        j.stage = Stage::Ended;
        j.failure = "the update did not start: " + kvxr::StatusText(kvxr::Call::UpdateFirmware, st);
        progress_.Note(j.mac + ": " + j.failure);
        continue;
      }
      j.stage = Stage::Running;
      j.startTick = j.lastWord = plat::TickCount();
      byHandle_[j.device.handle] = i;
      ++running;
    }
  }

  void OnEvent(Job& j, const UpdateEvent& e) {
    if (j.stage != Stage::Running) return;
    j.lastWord = plat::TickCount();
    if (e.kind == kKindEnded) {
      j.stage = Stage::Ended;
      j.hasStatus = true;
      j.status = e.value;
      progress_.Note(j.mac + ": update ended with " + kvxr::StatusText(kvxr::Call::UpdateResult, e.value));
    } else if (e.kind == kKindPreparing) {
      if (e.value <= 0) {
        progress_.Note(j.mac + " at " + j.address + ": restarting into its boot loader");
      } else if (e.value % kCountdownStepS == 0 && e.value != j.shownSeconds) {
        j.shownSeconds = e.value;
        progress_.Note(j.mac + ": waiting for the boot loader, " + std::to_string(e.value) + " s left");
      }
    } else if (e.kind == kKindProgramming) {
      if (!j.programming) {
        j.programming = true;
        progress_.Note(j.mac + ": the boot loader answered; comparing and writing");
        return;
      }
      int32_t step = e.value < 0 ? 0 : (e.value > 100 ? 100 : e.value) / static_cast<int32_t>(kPercentStep) *
                                                                 static_cast<int32_t>(kPercentStep);
      // A write that starts again (the next part of the image) shows from 0.
      if (step > j.shownPercent || step < j.shownPercent - static_cast<int32_t>(kPercentStep)) {
        j.shownPercent = step;
        progress_.Note(j.mac + ": writing " + std::to_string(step) + "%");
      }
    }
  }

  void GiveUpSilent() {
    for (Job& j : jobs_) {
      if (j.stage != Stage::Running) continue;
      if (plat::TicksSince(j.lastWord) < kSilenceLimitMs && plat::TicksSince(j.startTick) < kUpdateLimitMs) continue;
      KVxR_AbortUpdate(j.device.handle);
      j.stage = Stage::Ended;
      j.failure = "the library reported nothing about the update for " +
                  std::to_string(plat::TicksSince(j.lastWord) / 1000) + " s; given up";
      progress_.Note(j.mac + ": " + j.failure);
    }
  }

  void StopAll(const char* why) {
    for (Job& j : jobs_) {
      j.Stop();
      if (j.stage != Stage::Queued) continue;
      j.stage = Stage::Ended;
      j.failure = why;
    }
  }

  // A second interrupt: the updates under way are let go (the library stops
  // telling about them); their devices may wait in their boot loader.
  void LeaveRunning() {
    for (Job& j : jobs_) {
      if (j.stage != Stage::Running) continue;
      KVxR_AbortUpdate(j.device.handle);
      j.stage = Stage::Ended;
      j.failure = "left while updating: it may wait in its boot loader ('quillscan-cli recover' brings it back)";
    }
  }

  const Options o_;
  const app::Version file_;
  ProgressLine progress_;
  std::vector<Job> jobs_;
  std::map<int32_t, size_t> byHandle_;
};

}  // namespace

int RunUpdateAll(const std::vector<std::string>& args) {
  Options o;
  int usage = ParseOptions(args, &o);
  if (usage != kExitOk) return usage;
  app::Version file;
  if (!LoadFirmwareArgument(kCmd, o.file, &file)) return kExitFailed;
  LibraryHost host;
  std::vector<KvxrDevice> found;
  if (!OpenAndScanKvxrDevices(host, kCmd, o.limited, &found)) return kExitFailed;
  if (found.empty()) {
    LetScansEnd(host);
    Error(kCmd, "no KV-xR device answered the scan; nothing was updated");
    return kExitFailed;
  }
  if (found.size() > kMaxDevices) {
    LetScansEnd(host);
    Error(kCmd, std::to_string(found.size()) + " KV-xR devices answered, more than the " + std::to_string(kMaxDevices) +
                    " one batch takes; nothing was updated");
    return kExitFailed;
  }
  Batch batch(o, file);
  batch.Take(found);
  const size_t skipped = batch.Count(Stage::Skipped);
  batch.Say("found " + std::to_string(found.size()) + " KV-xR devices; the file holds " + app::VersionText(file) +
            "; " + std::to_string(found.size() - skipped) + " to update, up to " + std::to_string(o.parallel) +
            " at once" + (skipped ? ", " + std::to_string(skipped) + " skipped (not older than the file)" : ""));
  batch.SaySkipped();
  CatchInterrupts();
  bool completed = batch.Update(host);
  batch.AwaitComeBack(host);  // after an interrupt: the lines only
  completed = completed && !Interrupted();
  LetScansEnd(host);
  host.Close();
  InterruptHandled();
  if (o.json) batch.PrintJson();
  bool good = batch.Summary();
  if (!completed) {
    Error(kCmd, "interrupted; not every device was updated");
    return kExitFailed;
  }
  if (!good) {
    Error(kCmd, "not every device was updated to " + app::VersionText(file));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace qs::cli
