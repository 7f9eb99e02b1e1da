// The update family's settings table, its routes, and what a device does when
// it starts, goes silent, or is given new settings.
#include "devsim/kvxr_update.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "devsim/families.h"
#include "devsim/journal.h"
#include "devsim/sim.h"
#include "firmware/stream_block.h"
#include "firmware/wp_messages.h"
#include "library/recovery_wire.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

const char* const kLoaderNames[] = {"stream", "older", "never"};
const char* const kPhaseNames[] = {"app", "waiting-stream", "waiting-offer", "uploading", "programmer"};
const char* const kChallengeFaultNames[] = {"good", "none", "malformed", "short", "lead", "foreign"};
const char* const kFwAnswerNames[] = {"none", "ok", "wrong", "no-challenge", "other-sender", "expired", "malformed"};
const char* const kReplyFaultNames[] = {"none", "erro", "badtag", "badlen", "short", "silent"};
const char* const kWriteFaultNames[] = {"none", "erro", "drop", "nostick"};
const char* const kAcceptNames[] = {"serve", "refuse", "close"};
const char* const kRecoveryReplyNames[] = {"good", "short", "port0", "none"};
const char* const kWpFaultNames[] = {"none", "no-select", "wrong-job", "lose-ack", "stall"};
const char* const kRamSourceNames[] = {"-", "stream", "older"};
const char* const kAreaChoices[] = {"app", "oldconfig", "cfgblock", "product"};

std::string Number(uint64_t v) { return std::to_string(v); }

std::string MemoryHex(const Memory& m, uint32_t address, uint32_t size) {
  std::vector<uint8_t> b(size);
  m.Read(address, size, b.data());
  return bytes::HexText(b.data(), b.size());
}

bool ParseFlashVersion(const std::string& v, FlashSource* out) {
  FlashSource f;
  if (v == "-") {
    f.kind = FlashSource::Kind::FromVersion;
  } else if (v == "none") {
    f.kind = FlashSource::Kind::Blank;
  } else {
    size_t dot = v.find('.');
    uint64_t a = 0, b = 0;
    if (dot == std::string::npos || !ParseUnsigned(v.substr(0, dot), 0xFFFFFFFFu, &a) ||
        !ParseUnsigned(v.substr(dot + 1), 0xFFFFFFFFu, &b))
      return false;
    f.kind = FlashSource::Kind::Version;
    f.major = static_cast<uint32_t>(a);
    f.minor = static_cast<uint32_t>(b);
  }
  *out = f;
  return true;
}

std::string ShowFlashVersion(const FlashSource& f) {
  switch (f.kind) {
    case FlashSource::Kind::FromVersion:
      return "-";
    case FlashSource::Kind::Blank:
      return "none";
    case FlashSource::Kind::Version:
      return std::to_string(f.major) + "." + std::to_string(f.minor);
    case FlashSource::Kind::File:
      return "-";
  }
  return "-";
}

}  // namespace

void KvxrUpdate::OnAttach() { journal_ = sim().AddJournal("fw"); }

void KvxrUpdate::Note(const Device& d, const std::string& kind, const std::string& detail) {
  Note(d.Mac(), kind, detail);
}

void KvxrUpdate::Note(const std::string& who, const std::string& kind, const std::string& detail) {
  // t=: the system's monotonic clock in ms, so that a benchmark can line the
  // device's steps up with the client's own clock
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now().time_since_epoch()).count();
  char t[40];
  std::snprintf(t, sizeof t, " t=%lld.%03lld", static_cast<long long>(us / 1000), static_cast<long long>(us % 1000));
  journal_->Push("seq=" + std::to_string(journal_->NextSeq()) + " mac=" + who + " kind=" + kind +
                 (detail.empty() ? "" : " " + detail) + t);
}

SettingTable KvxrUpdate::Settings() const {
  auto f = Bind();
  // a row whose value the memory is built from: the memory is made again once
  // every setting of the command is in (the identity may come after it)
  auto rebuilding = [this](Setting s) {
    auto parse = s.parse;
    const KvxrUpdate* self = this;
    s.parse = [parse, self](const std::string& v, Apply* apply, std::string* why) {
      Apply inner;
      if (!parse(v, &inner, why)) return false;
      *apply = [inner, self](Device& d) {
        inner(d);
        self->State(d).rebuild = true;
      };
      return true;
    };
    return s;
  };
  Setting fwVersion = f.Value<FlashSource>(
      "fw_version", &S::flash, "MAJOR.MINOR|none|-",
      "the version its flash's fw.info names (none: no fw.info, the firmware cannot start; -: that of version=)",
      ParseFlashVersion, ShowFlashVersion);
  Setting fwFile = f.Value<FlashSource>(
      "fw_file", &S::flash, "PATH|-",
      "its flash holds this Intel HEX or S-record file (chunks within 0x000000..0x0FFFFF)",
      [](const std::string& v, FlashSource* out) {
        if (v == "-") {
          *out = FlashSource();
          return true;
        }
        std::shared_ptr<const FlashImage> image;
        std::string why;
        if (v.empty() || v.size() > 4096 || !LoadFlashImage(v, &image, &why)) return false;
        out->kind = FlashSource::Kind::File;
        out->image = image;
        return true;
      },
      [](const FlashSource& v) { return v.kind == FlashSource::Kind::File ? v.image->path : std::string("-"); });
  Setting tcpPort = f.Value<uint16_t>(
      "tcp_port", &S::tcpPort, "1..65535", "TCP port of the programming stream, as the announcement names it",
      [](const std::string& v, uint16_t* o) {
        uint64_t n = 0;
        if (!ParseUnsigned(v, 65535, &n) || n == 0) return false;
        *o = static_cast<uint16_t>(n);
        return true;
      },
      [](const uint16_t& v) { return std::to_string(v); });
  Setting prgsStep = f.Value<uint32_t>(
      "prgs_step", &S::prgsStep, "0|64..1048576", "a write reports PRGS at every multiple of this many bytes (0: at its end only)",
      [](const std::string& v, uint32_t* o) {
        uint64_t n = 0;
        if (!ParseUnsigned(v, kDefaultFlashSize, &n) || (n != 0 && n < 64)) return false;
        *o = static_cast<uint32_t>(n);
        return true;
      },
      [](const uint32_t& v) { return std::to_string(v); });
  Setting wpInterval = f.Value<uint32_t>(
      "wpboot_interval", &S::wpIntervalMs, "50..600000",
      "the older loader repeats WPBOOT this often (ms) until an offer comes",
      [](const std::string& v, uint32_t* o) {
        uint64_t n = 0;
        if (!ParseUnsigned(v, 600000, &n) || n < 50) return false;
        *o = static_cast<uint32_t>(n);
        return true;
      },
      [](const uint32_t& v) { return std::to_string(v); });

  return {"KV-xR firmware update, device side (flash 0x000000..0x0FFFFF, product data 0x804000..0x8041FF)",
          {
              f.Choice("loader", &S::loader, kLoaderNames,
                       "boot loader it restarts into: fed by the multicast stream, the older one (WPBOOT), or "
                       "one that never comes back"),
              f.Millis("loader_delay", &S::loaderDelayMs, "silent this long before its boot loader runs"),
              f.Millis("app_delay", &S::appDelayMs, "silent this long after APPL before its application answers"),
              f.Flag("stuck", &S::stuck,
                     "in its boot loader though not asked to go there; 1 puts it there now (recovery)"),
              rebuilding(fwVersion),
              rebuilding(fwFile),
              rebuilding(f.Choice("product", &S::product, kProductStateNames,
                                  "product data: a valid record; an erased record with a good, a bad, or a "
                                  "long-serial old configuration block; or all erased")),
              f.Choice("fw_challenge", &S::challenge, kChallengeFaultNames,
                       "Reboot challenge: right, none, not Base64, 32 bytes, another lead-in, from another address"),
              f.Millis("fw_challenge_delay", &S::challengeDelayMs, "send the Reboot challenge after this many ms"),
              f.Millis("fw_challenge_life", &S::challengeLifeMs, "an answer later than this many ms is refused"),
              wpInterval,
              f.Choice("wp_fault", &S::wpFault, kWpFaultNames,
                       "older loader: no selection, a selection with another job, the ack of block 1 lost "
                       "once, or no ack from block 2 on"),
              f.Choice("recovery_reply", &S::recoveryReply, kRecoveryReplyNames,
                       "announcement to the recovery scan: 48 bytes, 40 bytes, naming port 0, or none"),
              tcpPort,
              f.Choice("tcp", &S::accept, kAcceptNames,
                       "programming stream: served, connection refused, or closed at once"),
              f.Choice("read_fault", &S::readFault, kReplyFaultNames,
                       "READ answered ERRO, with tag RDAX, a length one short, cut short and closed, or not at all"),
              f.Kinds("read_fault_at", &S::readFaultAt, kAreaChoices, "areas whose reads read_fault hits"),
              f.Choice("dgst_fault", &S::dgstFault, kReplyFaultNames,
                       "DGST answered ERRO, with tag DGSX, 19 bytes, cut short and closed, or not at all"),
              f.Choice("write_fault", &S::writeFault, kWriteFaultNames,
                       "half way through a write: ERRO, the connection dropped; or the bytes never stick"),
              f.Kinds("write_fault_at", &S::writeFaultAt, kAreaChoices, "areas whose writes write_fault hits"),
              prgsStep,
              f.Millis("prgs_delay", &S::prgsDelayMs, "each PRGS (and what follows it) leaves this much later"),
              f.State("loader_phase", JoinNames(kPhaseNames, 5, "|").c_str(),
                      [](const S& s) { return std::string(kPhaseNames[static_cast<size_t>(s.phase)]); }),
              f.State("fw_info", "the version in its flash's fw.info, or the reader's status",
                      [](const S& s) {
                        fw::FirmwareInfo info;
                        int32_t status = ReadInfoBlock(s.memory, info);
                        return status == 0 ? std::to_string(info.major) + "." + std::to_string(info.minor)
                                           : "status" + std::to_string(status);
                      }),
              f.State("ram_source", "where its RAM program came from: - stream older",
                      [](const S& s) { return std::string(kRamSourceNames[static_cast<size_t>(s.ramSource)]); }),
              f.State("ram_size", "bytes of the RAM program it assembled", [](const S& s) { return Number(s.ramSize); }),
              f.State("ram_sha1", "SHA-1 of that program, hex", [](const S& s) { return s.ramSha1; }),
              f.State("ram_blocks", "blocks of the RAM program taken so far",
                      [](const S& s) {
                        size_t n = 0;
                        for (uint8_t b : s.haveBlock) n += b;
                        return Number(s.phase == Phase::Upload ? s.nextBlock : n);
                      }),
              f.State("stream_refused", "stream blocks refused (too large, beyond the end, inconsistent)",
                      [](const S& s) { return Number(s.streamRefused + s.streamConflicts); }),
              f.State("boot_messages", "WPBOOT messages sent", [](const S& s) { return Number(s.bootMessages); }),
              f.State("fw_challenges", "Reboot requests it answered with a challenge",
                      [](const S& s) { return Number(s.challenges); }),
              f.State("fw_answers_ok", "answers accepted", [](const S& s) { return Number(s.answersOk); }),
              f.State("fw_answers_refused", "answers refused", [](const S& s) { return Number(s.answersRefused); }),
              f.State("last_fw_answer", JoinNames(kFwAnswerNames, 7, "|").c_str(),
                      [](const S& s) { return std::string(kFwAnswerNames[static_cast<size_t>(s.lastAnswer)]); }),
              f.State("announcements", "announcements sent to the recovery scan",
                      [](const S& s) { return Number(s.announcements); }),
              f.State("tcp_accepted", "programming-stream connections accepted",
                      [](const S& s) { return Number(s.accepted); }),
              f.State("tcp_open", "of them open now", [](const S& s) { return Number(s.sessions.size()); }),
              f.State("reads", "READ requests", [](const S& s) { return Number(s.reads); }),
              f.State("digests", "DGST requests", [](const S& s) { return Number(s.digests); }),
              f.State("writes", "WRTE and WRTU requests completed", [](const S& s) { return Number(s.writes); }),
              f.State("bytes_written", "data bytes taken by writes", [](const S& s) { return Number(s.bytesWritten); }),
              f.State("refused_requests", "requests refused as malformed or out of range",
                      [](const S& s) { return Number(s.refused); }),
              f.State("app_starts", "starts of its application from the boot loader",
                      [](const S& s) { return Number(s.appStarts); }),
              f.State("pd_area", "the product-data area, 512 bytes hex",
                      [](const S& s) { return MemoryHex(s.memory, kProductAddress, kProductSize); }),
              f.State("pd_record", "the product record: valid|invalid",
                      [](const S& s) {
                        uint8_t r[kRecordSize];
                        s.memory.Read(kRecordAddress, kRecordSize, r);
                        return std::string(RecordValid(r) ? "valid" : "invalid");
                      }),
              f.State("old_block", "the first 64 bytes of the old configuration area, hex",
                      [](const S& s) { return MemoryHex(s.memory, kOldConfigAddress, 64); }),
              f.State("cfg_block", "the 56-byte configuration block at 0xFE000, hex",
                      [](const S& s) { return MemoryHex(s.memory, kConfigBlockAddress, kConfigBlockSize); }),
          }};
}

std::vector<Route> KvxrUpdate::Routes() {
  auto prefix = [](const char* text) {
    size_t n = std::strlen(text);
    return [text, n](const uint8_t* p, size_t len) { return len >= n && std::memcmp(p, text, n) == 0; };
  };
  std::vector<Route> r(8);
  r[0].port = kPortKv, r[0].text = "Reboot", r[0].kind = "fw-reboot";
  r[0].handle = [this](const Datagram& g) { OnRebootRequest(g); };
  // anything longer that begins like an answer is taken as one (and checked)
  r[1].port = kPortKv, r[1].kind = "fw-answer";
  r[1].match = [](const uint8_t* p, size_t len) { return len > 6 && std::memcmp(p, "Reboot", 6) == 0; };
  r[1].handle = [this](const Datagram& g) { OnRebootAnswer(g); };
  r[2].port = fw::kStreamPort, r[2].kind = "stream", r[2].group = fw::kStreamGroupAddress, r[2].logBytes = 64;
  r[2].match = [](const uint8_t* p, size_t len) {
    fw::StreamDatagramView v;
    return fw::ParseStreamDatagram(p, len, v);
  };
  r[2].handle = [this](const Datagram& g) { OnStreamBlock(g); };
  r[3].port = fw::kBootPort, r[3].kind = "wp-hello";
  r[3].text = std::string(1, static_cast<char>(fw::kWatcherHello));
  r[3].handle = [this](const Datagram& g) { OnWatcherHello(g); };
  r[4].port = kOlderLoaderPort, r[4].kind = "wpoffr", r[4].match = prefix("WPOFFR");
  r[4].handle = [this](const Datagram& g) { OnOffer(g); };
  r[5].port = kOlderLoaderPort, r[5].kind = "wpimag", r[5].match = prefix("WPIMAG"), r[5].logBytes = 64;
  r[5].handle = [this](const Datagram& g) { OnImageBlock(g); };
  r[6].port = kvxr::kRecoveryPort, r[6].kind = "recovery";
  r[6].match = [](const uint8_t* p, size_t len) {
    kvxr::RecoveryRequestView v;
    return kvxr::ParseRecoveryRequest(p, len, v);
  };
  r[6].handle = [this](const Datagram& g) { OnRecoveryRequest(g); };
  // the boot messages of the devices' own loaders come back on the port they
  // go to: named, so that the log does not call them junk
  r[7].port = fw::kBootPort, r[7].kind = "wpboot-echo", r[7].match = prefix("WPBOOT");
  r[7].handle = [](const Datagram&) {};
  return r;
}

void KvxrUpdate::Rebuild(Device& d) {
  S& s = State(d);
  s.rebuild = false;
  s.memory.Clear();
  Identity id;
  id.model = d.model;
  id.serial = d.serial;
  id.mac = d.mac;
  id.dhcp = d.dhcp;
  id.address = d.staticIp;
  id.netmask = d.mask;
  id.gateway = d.gw;
  WriteProductState(s.memory, s.product, id);
  switch (s.flash.kind) {
    case FlashSource::Kind::FromVersion:
      WriteInfoBlock(s.memory, d.version.major, d.version.minor);
      return;
    case FlashSource::Kind::Version:
      WriteInfoBlock(s.memory, s.flash.major, s.flash.minor);
      break;
    case FlashSource::Kind::Blank:
      return;
    case FlashSource::Kind::File:
      WriteFlashImage(s.memory, *s.flash.image);
      break;
  }
  fw::FirmwareInfo info;
  if (ReadInfoBlock(s.memory, info) == 0) d.version = {info.major, info.minor};
}

void KvxrUpdate::OnSettings(Device& d, bool adding) {
  S& s = State(d);
  if (adding || s.rebuild) Rebuild(d);
  if (s.stuck && d.power == Power::Online) {
    // stuck from now on: as if its application had just failed to start
    d.power = Power::Loader;
    EnterLoader(d);
  }
}

void KvxrUpdate::OnRestart(Device& d) {
  S& s = State(d);
  CloseProgrammer(d);
  ++s.epoch;
  s.hasToken = false;
  s.leaving = false;
  s.phase = Phase::App;
}

void KvxrUpdate::OnStarted(Device& d) {
  S& s = State(d);
  bool fromLoader = s.fromLoader;
  s.fromLoader = false;
  if (d.power == Power::Loader) {
    EnterLoader(d);
    return;
  }
  fw::FirmwareInfo info;
  int32_t status = ReadInfoBlock(s.memory, info);
  if (status != 0 || s.stuck) {
    // nothing in its flash that could start (or a unit that is stuck
    // anyway): its boot loader stays
    if (status != 0) Note(d, "app-failed", "fw_info=" + std::to_string(status));
    d.power = Power::Loader;
    s.stuck = true;
    EnterLoader(d);
    return;
  }
  if (!fromLoader) return;
  d.version = {info.major, info.minor};
  ++s.appStarts;
  Note(d, "app-start", "version=" + std::to_string(info.major) + "." + std::to_string(info.minor));
}

std::unique_ptr<Family> NewKvxrUpdate() { return std::make_unique<KvxrUpdate>(); }

}  // namespace qs::devsim
