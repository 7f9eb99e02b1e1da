#include "library/config_jobs.h"

#include <cstring>
#include <string>
#include <vector>

#include "discovery/frame.h"
#include "library/fence.h"
#include "library/opmode_report.h"
#include "library/reboot_request.h"
#include "library/scanner.h"
#include "library/set_config.h"
#include "net/worker.h"
#include "platform/socket.h"

namespace qs::kvxr {

namespace {

// What ended a wait for a reply: a verified datagram of the wanted type, the
// time, a receive error of the socket, or the job's stop (abort, shutdown).
enum class Got { Reply, Time, Error, Stopped };

// Receives until a datagram that authenticates against the nonce and has the
// type arrives, or the deadline passes. Anything else is skipped (and said so
// in the log); verified replies of other types go to `other` first.
Got AwaitReply(net::Endpoint& ep, const uint8_t* nonce, uint16_t type, const net::Deadline& d,
                const plat::Event& stop, disc::VerifiedReply* out, JobLog& log,
                void (*other)(void*, const disc::VerifiedReply&) = nullptr, void* context = nullptr) {
  plat::WaitObject stopObj = stop.object();
  for (;;) {
    if (d.Expired()) return Got::Time;
    int n = ep.Receive(d.Remaining(), &stopObj, 1);
    if (n == net::kStrayDatagram) {
      log(LogKind::Skipped, "stray datagram from %u.%u.%u.%u (empty or beyond the buffer)",
          QS_LOG_IP(ep.sender().address));
      continue;
    }
    if (n < 0) return Got::Error;
    if (n == 0) {
      if (ep.lastWait() == 0) return Got::Stopped;
      if (ep.lastWait() == plat::kWaitFailed) stop.Wait(10);
      continue;
    }
    disc::VerifiedReply v;
    if (!disc::VerifyReply(nonce, ep.buffer(), static_cast<size_t>(n), &v)) {
      log(LogKind::Skipped, "%d bytes from %u.%u.%u.%u: not a reply to this request", n,
          QS_LOG_IP(ep.sender().address));
      continue;
    }
    if (v.type == type) {
      *out = v;
      return Got::Reply;
    }
    if (other) other(context, v);
    else log(LogKind::Skipped, "reply type 0x%04X from %u.%u.%u.%u", v.type, QS_LOG_IP(ep.sender().address));
  }
}

const char* GotName(Got w) {
  switch (w) {
    case Got::Reply: return "reply";
    case Got::Time: return "no answer in time";
    case Got::Error: return "receive error";
    case Got::Stopped: return "stopped";
  }
  return "?";
}

bool OpenBroadcast(net::Endpoint& ep, uint32_t interfaceAddress) {
  bool ok = ep.Open(interfaceAddress, 0) && ep.SetBroadcast(true);
  ep.SetDestination(plat::kBroadcastAddress, disc::kCommandPort);
  return ok;
}

class SetConfigJob : public net::Worker {
 public:
  SetConfigJob(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs, ILogSink* log)
      : Worker(timeoutMs), device_(device), settings_(settings), log_(log, "set-config") {}

 protected:
  int32_t Body(const net::Deadline& d, const plat::Event& stop) override {
    return Fenced(KVXR_SETCFG_REFUSED, [&] { return Exchange(d, stop); });
  }

 private:
  int32_t Exchange(const net::Deadline& d, const plat::Event& stop) {
    log_.SetAttempt(1, 1);  // one rediscovery, one request: no retries
    CurrentDevice current;
    int32_t st = Rediscover(d, stop, &current);
    if (st != KVXR_OK) {
      log_(LogKind::Outcome, "rediscovery failed: %d", st);
      return st;
    }

    net::Endpoint ep;
    OpenBroadcast(ep, device_.interfaceAddress);
    uint8_t nonce[disc::kNonceSize];
    if (!disc::MakeNonce(nonce)) return KVXR_SETCFG_REFUSED;
    std::vector<uint8_t> payload = EncodeSetConfig(MergeSettings(settings_, current));
    std::vector<uint8_t> frame = disc::BuildRequest(nonce, disc::kCmdSetConfig, payload.data(), payload.size());
    bool sent = !frame.empty() && ep.Send(frame.data(), frame.size());
    log_(LogKind::Sent, "set-config (%s, operation mode %u) to 255.255.255.255%s",
         settings_.dhcp & 0xFF ? "DHCP" : "static", current.operationMode, sent ? "" : ": send failed");
    if (!sent) return KVXR_SETCFG_REFUSED;
    disc::VerifiedReply ack;
    Got w = AwaitReply(ep, nonce, disc::kReplySetConfigAck, d, stop, &ack, log_);
    if (w != Got::Reply) log_(LogKind::Outcome, "acknowledgement: %s", GotName(w));
    switch (w) {
      case Got::Time:
      case Got::Stopped: return KVXR_SETCFG_NO_ACK;
      case Got::Error: return KVXR_SETCFG_RECEIVE_ERROR;
      case Got::Reply: break;
    }
    bool accepted = SetConfigAccepted(ack.payload, ack.length);
    log_(LogKind::Received, "acknowledgement: %s", accepted ? "accepted" : "refused");
    return accepted ? KVXR_OK : KVXR_SETCFG_REFUSED;
  }

  static void OnOther(void* c, const disc::VerifiedReply& v) {
    auto* self = static_cast<SetConfigJob*>(c);
    OpModeReport report;
    if (v.type == disc::kReplyOpModeReport && DecodeOpModeReport(v.payload, v.length, &report) &&
        std::memcmp(report.hardwareId, self->device_.hardwareId, kHwIdSize) == 0) {
      self->reportedMode_ = report.mode;
      self->haveReportedMode_ = true;
      self->log_(LogKind::Received, "operation mode %u", report.mode);
      return;
    }
    self->log_(LogKind::Skipped, "reply type 0x%04X (not this device's operation mode)", v.type);
  }

  // The device's operation-mode report may follow its announce: listen on
  // for a short while when the request needs the device's mode.
  void AwaitModeReport(net::Endpoint& ep, const uint8_t* nonce, const net::Deadline& d, const plat::Event& stop) {
    if (settings_.operationModePresent || haveReportedMode_) return;
    uint32_t grace = d.Remaining() / 2;
    if (grace > kOpModeGraceMs) grace = kOpModeGraceMs;
    const net::Deadline g = net::Deadline::FromNow(grace);
    while (!haveReportedMode_) {
      disc::VerifiedReply v;
      // Every report passes through OnOther; the wanted type is one no
      // device sends, so the wait ends only with the grace (or a stop).
      if (AwaitReply(ep, nonce, 0, g, stop, &v, log_, &SetConfigJob::OnOther, this) != Got::Reply) break;
    }
    if (!haveReportedMode_) log_(LogKind::Note, "no operation-mode report within %u ms: keeping mode %u", grace,
                                 device_.operationMode);
  }

  int32_t Rediscover(const net::Deadline& d, const plat::Event& stop, CurrentDevice* out) {
    net::Endpoint ep;
    OpenBroadcast(ep, device_.interfaceAddress);
    uint8_t nonce[disc::kNonceSize];
    if (disc::MakeNonce(nonce)) {
      std::vector<uint8_t> req = disc::BuildRequest(nonce, disc::kCmdDiscover, nullptr, 0);
      bool sent = !req.empty() && ep.Send(req.data(), req.size());
      log_(LogKind::Sent, "discover to 255.255.255.255 from %u.%u.%u.%u%s", QS_LOG_IP(device_.interfaceAddress),
           sent ? "" : " (send failed)");
    }
    for (;;) {
      disc::VerifiedReply v;
      Got w = AwaitReply(ep, nonce, disc::kReplyAnnounce, d, stop, &v, log_, &SetConfigJob::OnOther, this);
      if (w != Got::Reply) log_(LogKind::Outcome, "rediscovery: %s", GotName(w));
      switch (w) {
        case Got::Time:
        case Got::Stopped: return KVXR_REDISCOVERY_TIMEOUT;
        case Got::Error: return KVXR_REDISCOVERY_RECEIVE_ERROR;
        case Got::Reply: break;
      }
      CurrentDevice c;
      if (!disc::DecodeAnnounce(v.payload, v.length, disc::kAnnounceNeededByLibrary, &c.announce) ||
          std::memcmp(c.announce.hardwareId, device_.hardwareId, kHwIdSize) != 0) {
        log_(LogKind::Skipped, "announce of another device");
        continue;
      }
      log_(LogKind::Received, "announce of %u.%u.%u.%u", QS_LOG_IP(c.announce.address));
      AwaitModeReport(ep, nonce, d, stop);
      // The device's mode as it reported it now; without a report, the one
      // of the scan, so that an address change never resets the mode.
      c.operationMode = haveReportedMode_ ? reportedMode_ : device_.operationMode;
      *out = c;
      return KVXR_OK;
    }
  }

  DeviceRecord device_;
  NetworkSettings settings_;
  JobLog log_;
  uint8_t reportedMode_ = 0;
  bool haveReportedMode_ = false;
};

class RebootCtrl : public net::Worker {
 public:
  RebootCtrl(const DeviceRecord& device, ILogSink* log)
      : Worker(kChallengeWaitMs), device_(device), log_(log, "reboot") {}

 protected:
  int32_t Body(const net::Deadline&, const plat::Event& stop) override {
    // Out of memory before the first request went out, or after: the status
    // of a send that failed there.
    int32_t step = KVXR_REBOOT_NOT_SENT, result = KVXR_OK;
    bool ended = false;
    Fenced([&] {
      result = Exchange(stop, step);
      ended = true;
    });
    return ended ? result : step;
  }

 private:
  int32_t Exchange(const plat::Event& stop, int32_t& step) {
    log_.SetAttempt(1, 1);
    net::Endpoint ep;
    if (!ep.Open(device_.interfaceAddress, 0)) return Fail(KVXR_REBOOT_NO_SOCKET, "no socket");
    if (!ep.SetBroadcast(true)) return Fail(KVXR_REBOOT_NO_BROADCAST, "broadcast refused");
    ep.SetDestination(plat::kBroadcastAddress, disc::kCommandPort);
    uint8_t nonce[disc::kNonceSize];
    if (!disc::MakeNonce(nonce)) return Fail(KVXR_REBOOT_NOT_SENT, "no nonce");
    std::vector<uint8_t> payload = EncodeRebootRequest(device_.hardwareId, nullptr);
    std::vector<uint8_t> frame = disc::BuildRequest(nonce, disc::kCmdReboot, payload.data(), payload.size());
    if (frame.empty() || !ep.Send(frame.data(), frame.size())) return Fail(KVXR_REBOOT_NOT_SENT, "request not sent");
    log_(LogKind::Sent, "reboot request to 255.255.255.255");
    step = KVXR_RESPONSE_NOT_SENT;

    const net::Deadline d = net::Deadline::FromNow(kChallengeWaitMs);
    uint8_t challenge[kChallengeBytes];
    for (;;) {
      disc::VerifiedReply v;
      Got w = AwaitReply(ep, nonce, disc::kReplyChallenge, d, stop, &v, log_);
      switch (w) {
        case Got::Time:
        case Got::Stopped: return Fail(KVXR_NO_CHALLENGE, GotName(w));
        case Got::Error: return Fail(KVXR_CHALLENGE_RECEIVE_ERROR, GotName(w));
        case Got::Reply: break;
      }
      if (DecodeChallenge(v.payload, v.length, challenge)) break;
      log_(LogKind::Skipped, "malformed challenge");
    }
    log_(LogKind::Received, "challenge");
    const RebootText response = ResponseTo(challenge);
    payload = EncodeRebootRequest(device_.hardwareId, &response);
    frame = disc::BuildRequest(nonce, disc::kCmdReboot, payload.data(), payload.size());
    if (frame.empty() || !ep.Send(frame.data(), frame.size()))
      return Fail(KVXR_RESPONSE_NOT_SENT, "response not sent");
    log_(LogKind::Sent, "response");
    return KVXR_OK;
  }

  int32_t Fail(int32_t status, const char* why) {
    log_(LogKind::Outcome, "%s: %d", why, status);
    return status;
  }

  DeviceRecord device_;
  JobLog log_;
};

}  // namespace

int32_t RunSetConfig(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs,
                     ILogSink* log) {
  return net::RunJobAndWait<SetConfigJob>(KVXR_SETCFG_NOT_STARTED, device, settings, timeoutMs, log);
}

int32_t RunReboot(const DeviceRecord& device, ILogSink* log) {
  return net::RunJobAndWait<RebootCtrl>(KVXR_REBOOT_NOT_STARTED, device, log);
}

}  // namespace qs::kvxr
