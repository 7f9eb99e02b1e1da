// quillscan-cli recover: what the program's recovery dialog does: recovery
// mode on with a firmware file, every unit waiting in its boot loader listed
// as it is found, the units asked for programmed as soon as each is ready,
// recovery mode off on the way out (also after Ctrl+C).
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
#include "library/library_host.h"
#include "cli/support_interrupt.h"
#include "cli/support_progress.h"
#include "cli/support_target.h"
#include "library/KV-xR_update.h"
#include "library/status_text.h"
#include "platform/tick.h"
#include "runtime/bytes.h"

namespace qs::cli {

using kvxr::LibraryHost;

namespace {

constexpr const char* kCmd = "recover";
// Units named on the command line that have not been found by then are given
// up (an older boot loader needs its upload first: some seconds).
constexpr uint32_t kFindLimitMs = 60000;
// A unit being programmed that reports nothing this long is given up; the
// programming ends itself after 15 s without a word from the unit.
constexpr uint32_t kSilenceLimitMs = 90000;
// --all: units that need their RAM program first announce some seconds after
// the others, and none is found while another is being programmed; so the
// end waits until nothing new has come up for this long.
constexpr uint32_t kAllQuietMs = 8000;
constexpr uint32_t kMaxSeconds = 24 * 3600;
constexpr size_t kMaxUnits = 256;


struct RecoveryEvent {
  int32_t number;
  std::string text;
  int32_t event, value;
};
std::vector<RecoveryEvent> g_events;

void OnRecovery(int32_t number, const KVxR_WCHAR* text, int32_t event, int32_t value) {
  if (g_events.size() >= 100000) return;
  RecoveryEvent e{number, std::string(), event, value};
  for (size_t i = 0; text && text[i] && i < 64; ++i) e.text.push_back(static_cast<char>(text[i]));
  g_events.push_back(e);
}

enum class UnitState { Missing, Found, Programming, Ended, GivenUp };

struct Unit {
  uint8_t mac[6] = {};
  std::string address;  // as the unit announced itself; empty while not found
  int32_t number = 0;   // the latest recovery number
  bool wanted = false;
  UnitState state = UnitState::Missing;
  bool hasStatus = false;
  int32_t status = 0;
  uint32_t lastWord = 0;
};

bool ParseSeconds(const std::string& t, uint32_t* out) {
  if (t.empty() || t.size() > 6) return false;
  uint32_t v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > kMaxSeconds) return false;
  *out = v;
  return true;
}

// "10.71.0.130|02:00:00:00:01:30" from event 1.
bool ParseFoundText(const std::string& text, std::string* address, uint8_t mac[6]) {
  size_t bar = text.find('|');
  if (bar == std::string::npos) return false;
  uint32_t a = 0;
  if (!bytes::ParseIpv4(text.substr(0, bar), a) || !bytes::ParseMac(text.substr(bar + 1), mac)) return false;
  *address = bytes::FormatIpv4(a);
  return true;
}

class Recovery {
 public:
  Recovery(bool all, uint32_t minMs, bool json) : all_(all), minMs_(minMs), json_(json), progress_(kCmd) {}

  void Want(const uint8_t mac[6]) {
    Unit* u = Find(mac);
    if (!u) u = Add(mac);
    if (u) u->wanted = true;
  }

  // Runs until the units asked for have ended (or were given up), no sooner
  // than the minimum time. false when interrupted.
  bool Run(LibraryHost& host) {
    start_ = plat::TickCount();
    lastNews_ = start_;
    for (;;) {
      host.Run(100);
      Handle(host);
      if (Interrupted()) return false;
      uint32_t spent = plat::TicksSince(start_);
      GiveUpLate(spent);
      if (spent >= minMs_ && Finished(spent)) return true;
    }
  }

  // Everything asked for ended with 1 or 0.
  bool AllGood() const {
    size_t asked = 0;
    for (const Unit& u : units_) {
      if (!u.wanted) continue;
      ++asked;
      if (!u.hasStatus || (u.status != 1 && u.status != 0)) return false;
    }
    return asked > 0 || !all_;
  }

  bool Busy(std::string* macs) const {
    for (const Unit& u : units_)
      if (u.state == UnitState::Programming) *macs += (macs->empty() ? "" : ", ") + MacText(u.mac);
    return !macs->empty();
  }

  void Report() {
    progress_.Clear();
    if (json_) {
      picojson::array out;
      for (const Unit& u : units_) {
        picojson::object o;
        o["address"] = u.address.empty() ? picojson::value() : picojson::value(u.address);
        o["mac"] = picojson::value(MacText(u.mac));
        o["status"] = u.hasStatus ? picojson::value(static_cast<double>(u.status)) : picojson::value();
        out.push_back(picojson::value(o));
      }
      std::printf("%s\n", picojson::value(out).serialize().c_str());
      std::fflush(stdout);
      return;
    }
    for (const Unit& u : units_) {
      std::string where = u.address.empty() ? "not found" : "at " + u.address;
      std::string what;
      if (u.hasStatus) what = std::to_string(u.status) + ": " + kvxr::StatusMeaning(kvxr::Call::UpdateResult, u.status);
      else if (!u.wanted) what = "not asked for";
      else if (u.state == UnitState::Programming) what = "programming did not end";
      else if (u.state == UnitState::GivenUp && !u.address.empty()) what = "never ready to program";
      else what = "not found";
      std::printf("%s %s: %s\n", MacText(u.mac).c_str(), where.c_str(), what.c_str());
    }
    std::fflush(stdout);
  }

  void Say(const std::string& text) {
    if (json_) {
      progress_.Note(text);
    } else {
      progress_.Clear();
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    }
  }

  const std::vector<Unit>& units() const { return units_; }

 private:
  Unit* Find(const uint8_t mac[6]) {
    for (Unit& u : units_)
      if (std::memcmp(u.mac, mac, 6) == 0) return &u;
    return nullptr;
  }
  Unit* Add(const uint8_t mac[6]) {
    if (units_.size() >= kMaxUnits) return nullptr;
    Unit u;
    std::memcpy(u.mac, mac, 6);
    units_.push_back(u);
    return &units_.back();
  }
  Unit* ByNumber(int32_t number) {
    auto it = numbers_.find(number);
    return it == numbers_.end() ? nullptr : Find(it->second.data());
  }

  void Handle(LibraryHost&) {
    for (; seen_ < g_events.size(); ++seen_) {
      const RecoveryEvent e = g_events[seen_];
      if (e.event == KVXR_RECOVERY_FOUND) {
        std::string address;
        std::array<uint8_t, 6> mac{};
        if (!ParseFoundText(e.text, &address, mac.data())) continue;
        numbers_[e.number] = mac;
        Unit* u = Find(mac.data());
        bool again = u && !u->address.empty();
        if (!u) {
          u = Add(mac.data());
          if (!u) continue;
          if (all_) u->wanted = true;
        }
        u->address = address;
        u->number = e.number;
        lastNews_ = plat::TickCount();
        if (u->state == UnitState::Missing) u->state = UnitState::Found;
        Say(std::string(again ? "reported again: " : "found: ") + address + " " + MacText(u->mac));
        continue;
      }
      Unit* u = ByNumber(e.number);
      if (!u) continue;
      u->lastWord = plat::TickCount();
      switch (e.event) {
        case KVXR_RECOVERY_READY:
          if (u->wanted && u->state == UnitState::Found && u->number == e.number) {
            int32_t st = KVxR_ResumeRecovery(e.number);
            if (st == 0) {
              u->state = UnitState::Programming;
              Say("programming " + MacText(u->mac) + " at " + u->address);
            } else {
              progress_.Note(MacText(u->mac) + ": not resumed (" + std::to_string(st) +
                             "); waiting for it to be reported again");
            }
          }
          break;
        case KVXR_RECOVERY_PROGRESS:
          if (u->state == UnitState::Programming)
            progress_.Percent(MacText(u->mac) + " writing", e.value < 0 ? 0u : static_cast<uint32_t>(e.value));
          break;
        case KVXR_RECOVERY_PROGRAMMED:
        case KVXR_RECOVERY_UP_TO_DATE:
        case KVXR_RECOVERY_FAILED:
          if (u->state != UnitState::Programming) break;
          u->state = UnitState::Ended;
          lastNews_ = plat::TickCount();
          u->hasStatus = true;
          u->status = e.event == KVXR_RECOVERY_UP_TO_DATE ? 0 : e.value;
          Say(MacText(u->mac) + " at " + u->address + " ended with " + std::to_string(u->status) + ": " +
              kvxr::StatusMeaning(kvxr::Call::UpdateResult, u->status));
          break;
      }
    }
  }

  void GiveUpLate(uint32_t spent) {
    const uint32_t findLimit = minMs_ > kFindLimitMs ? minMs_ : kFindLimitMs;
    for (Unit& u : units_) {
      if (!u.wanted) continue;
      if ((u.state == UnitState::Missing || u.state == UnitState::Found) && spent >= findLimit) {
        progress_.Note(MacText(u.mac) + (u.state == UnitState::Missing ? " was not found" : " was never ready to program") +
                       " within " + std::to_string(findLimit / 1000) + " s; given up");
        u.state = UnitState::GivenUp;
      } else if (u.state == UnitState::Programming && plat::TicksSince(u.lastWord) >= kSilenceLimitMs) {
        progress_.Note(MacText(u.mac) + ": no word from its programming for " +
                       std::to_string(kSilenceLimitMs / 1000) + " s; given up");
        u.state = UnitState::GivenUp;
      }
    }
    if (all_ && units_.empty() && spent >= findLimit && !noneFound_) {
      progress_.Note("no unit waiting in its boot loader was found within " + std::to_string(findLimit / 1000) + " s");
      noneFound_ = true;
    }
  }

  bool Finished(uint32_t) const {
    if (all_ && units_.empty()) return noneFound_;
    for (const Unit& u : units_)
      if (u.wanted && u.state != UnitState::Ended && u.state != UnitState::GivenUp) return false;
    return !all_ || plat::TicksSince(lastNews_) >= kAllQuietMs;
  }

  const bool all_;
  const uint32_t minMs_;
  const bool json_;
  ProgressLine progress_;
  uint32_t start_ = 0;
  uint32_t lastNews_ = 0;  // a unit found or ended
  size_t seen_ = 0;
  bool noneFound_ = false;
  std::vector<Unit> units_;
  std::map<int32_t, std::array<uint8_t, 6>> numbers_;
};

int RunRecover(const std::vector<std::string>& args) {
  bool all = false, json = false, haveSeconds = false;
  uint32_t seconds = 0;
  std::vector<std::string> pos;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--all") {
      all = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--seconds") {
      if (i + 1 >= args.size()) return UsageError(kCmd, "--seconds needs a number");
      if (!ParseSeconds(args[++i], &seconds))
        return UsageError(kCmd, "'" + args[i] + "' is no number of seconds: 0 to " + std::to_string(kMaxSeconds));
      haveSeconds = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return UsageError(kCmd, "unknown option '" + a + "'");
    } else {
      pos.push_back(a);
    }
  }
  if (pos.empty()) return UsageError(kCmd, "a firmware file is needed");
  const std::string file = pos[0];
  std::vector<std::array<uint8_t, 6>> macs;
  for (size_t i = 1; i < pos.size(); ++i) {
    std::array<uint8_t, 6> m{};
    if (!bytes::ParseMac(pos[i], m.data()))
      return UsageError(kCmd, "'" + pos[i] + "' is no MAC (six hex pairs, 00-11-22-33-44-55)");
    if (macs.size() >= kMaxUnits) return UsageError(kCmd, "at most " + std::to_string(kMaxUnits) + " units");
    macs.push_back(m);
  }
  if (all && !macs.empty()) return UsageError(kCmd, "either --all or MACs, not both");
  if (!all && macs.empty() && !haveSeconds)
    return UsageError(kCmd, "name the units by MAC, or give --all; to only list the units found, give --seconds");

  app::Version version;
  if (!LoadFirmwareArgument(kCmd, file, &version)) return kExitFailed;
  LibraryHost host;
  if (!host.Open()) {
    Error(kCmd, "no window for the library's notifications");
    return kExitFailed;
  }
  Recovery rec(all, seconds * 1000u, json);
  for (const auto& m : macs) rec.Want(m.data());
  CatchInterrupts();
  g_events.clear();
  int32_t st = KVxR_SetRecoveryMode(1, OnRecovery);
  if (st != 0) {
    Error(kCmd, "recovery mode not switched on: " + std::to_string(st) + ": " + kvxr::StatusMeaning(kvxr::Call::SetRecoveryMode, st));
    return kExitFailed;
  }
  rec.Say("recovery mode on with firmware " + app::VersionText(version) + "; listening for units in their boot loader");
  bool completed = rec.Run(host);
  std::string busy;
  rec.Busy(&busy);
  KVxR_SetRecoveryMode(0, nullptr);
  host.Close();
  InterruptHandled();
  rec.Report();
  if (!completed) {
    Error(kCmd, "interrupted; recovery mode switched off" +
                    (busy.empty() ? std::string() : "; " + busy + " may be left in its boot loader: run recover again"));
    return kExitFailed;
  }
  if (!rec.AllGood()) {
    Error(kCmd, all && rec.units().empty() ? "no unit was found" : "not every unit asked for was brought back");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_recover, "recover", "recover <FILE> [--all | <MAC>...] [--seconds N] [--json]",
               "Brings back KV-xR units whose firmware does not start, as the program's recovery\n"
               "dialog does: switches recovery mode on with the firmware file, lists each unit\n"
               "waiting in its boot loader as it is found (address, MAC), programs the units\n"
               "named by MAC, or with --all every unit found, as soon as each is ready, and\n"
               "shows their progress and outcome. It ends when every unit asked for has\n"
               "ended; a named unit not found within 60 s is given up. Recovery mode is\n"
               "switched off on the way out, also on Ctrl+C.\n"
               "  --all        program every unit found (ends once those found have ended and\n"
               "               no other unit has come up for 8 s)\n"
               "  --seconds N  run at least N seconds (0-86400), so that units announcing late\n"
               "               are still found; without units asked for it only lists them\n"
               "  --json       one array on stdout, one object per unit: \"address\", \"mac\"\n"
               "               and \"status\" (1 programmed, 0 already up to date, negative the\n"
               "               error; null when it was not programmed)\n"
               "Exit status: 0 every unit asked for ended with 1 or 0; 1 failed, given up or\n"
               "interrupted (the reason is printed); 2 usage error.",
               RunRecover);

}  // namespace qs::cli
