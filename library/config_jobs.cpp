#include "library/config_jobs.h"

#include <cstring>
#include <string>
#include <vector>

#include "discovery/frame.h"
#include "library/base64.h"
#include "library/scanner.h"
#include "net/worker.h"
#include "platform/socket.h"

namespace qs::kvxr {

namespace {

constexpr uint16_t kCmdSetConfig = 0xC102;
constexpr uint16_t kCmdReboot = 0xC103;
constexpr uint16_t kReplySetConfigAck = 0x5502;
constexpr uint16_t kReplyChallenge = 0x5503;
constexpr size_t kRebootPayload = 40;

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
  ep.SetDestination(plat::kBroadcastAddress, kKvxrPort);
  return ok;
}

class SetConfigJob : public net::Worker {
 public:
  SetConfigJob(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs, ILogSink* log)
      : Worker(timeoutMs), device_(device), settings_(settings), log_(log, "set-config") {}

 protected:
  int32_t Body(const net::Deadline& d, const plat::Event& stop) override {
    log_.SetAttempt(1, 1);  // one rediscovery, one request: no retries
    CurrentDevice current;
    int32_t st = Rediscover(d, stop, &current);
    if (st != 0) {
      log_(LogKind::Outcome, "rediscovery failed: %d", st);
      return st;
    }

    net::Endpoint ep;
    OpenBroadcast(ep, device_.interfaceAddress);
    uint8_t nonce[disc::kNonceSize];
    if (!disc::MakeNonce(nonce)) return kSetCfgRefused;
    std::vector<uint8_t> payload = SetConfigPayload(settings_, current);
    std::vector<uint8_t> frame = disc::BuildRequest(nonce, kCmdSetConfig, payload.data(), payload.size());
    bool sent = !frame.empty() && ep.Send(frame.data(), frame.size());
    log_(LogKind::Sent, "set-config (%s, operation mode %u) to 255.255.255.255%s",
         settings_.dhcp & 0xFF ? "DHCP" : "static", current.operationMode, sent ? "" : ": send failed");
    if (!sent) return kSetCfgRefused;
    disc::VerifiedReply ack;
    Got w = AwaitReply(ep, nonce, kReplySetConfigAck, d, stop, &ack, log_);
    if (w != Got::Reply) log_(LogKind::Outcome, "acknowledgement: %s", GotName(w));
    switch (w) {
      case Got::Time:
      case Got::Stopped: return kSetCfgNoAck;
      case Got::Error: return kSetCfgReceiveError;
      case Got::Reply: break;
    }
    bool accepted = ack.length >= 1 && ack.payload[0] == 1;
    log_(LogKind::Received, "acknowledgement: %s", accepted ? "accepted" : "refused");
    return accepted ? 0 : kSetCfgRefused;
  }

 private:
  static void OnOther(void* c, const disc::VerifiedReply& v) {
    auto* self = static_cast<SetConfigJob*>(c);
    HwId id;
    uint8_t mode = 0;
    if (v.type == kReplyOpModeReport && ParseOpModeReport(v.payload, v.length, &id, &mode) &&
        std::memcmp(id.bytes, self->device_.hardwareId, kHwIdSize) == 0) {
      self->reportedMode_ = mode;
      self->haveReportedMode_ = true;
      self->log_(LogKind::Received, "operation mode %u", mode);
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
        case Got::Stopped: return kRediscoveryTimeout;
        case Got::Error: return kRediscoveryReceiveError;
        case Got::Reply: break;
      }
      CurrentDevice c;
      if (!CurrentFromAnnounce(v.payload, v.length, &c) ||
          std::memcmp(c.hardwareId, device_.hardwareId, kHwIdSize) != 0) {
        log_(LogKind::Skipped, "announce of another device");
        continue;
      }
      log_(LogKind::Received, "announce of %u.%u.%u.%u", QS_LOG_IP(c.address));
      AwaitModeReport(ep, nonce, d, stop);
      // The device's mode as it reported it now; without a report, the one
      // of the scan, so that an address change never resets the mode.
      c.operationMode = haveReportedMode_ ? reportedMode_ : device_.operationMode;
      *out = c;
      return 0;
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
    log_.SetAttempt(1, 1);
    net::Endpoint ep;
    if (!ep.Open(device_.interfaceAddress, 0)) return Fail(kRebootNoSocket, "no socket");
    if (!ep.SetBroadcast(true)) return Fail(kRebootNoBroadcast, "broadcast refused");
    ep.SetDestination(plat::kBroadcastAddress, kKvxrPort);
    uint8_t nonce[disc::kNonceSize];
    if (!disc::MakeNonce(nonce)) return Fail(kRebootSendFailed, "no nonce");
    uint8_t payload[kRebootPayload] = {};
    std::memcpy(payload, device_.hardwareId, kHwIdSize);
    std::vector<uint8_t> frame = disc::BuildRequest(nonce, kCmdReboot, payload, sizeof payload);
    if (frame.empty() || !ep.Send(frame.data(), frame.size())) return Fail(kRebootSendFailed, "request not sent");
    log_(LogKind::Sent, "reboot request to 255.255.255.255");

    const net::Deadline d = net::Deadline::FromNow(kChallengeWaitMs);
    char response[25];
    for (;;) {
      disc::VerifiedReply v;
      Got w = AwaitReply(ep, nonce, kReplyChallenge, d, stop, &v, log_);
      switch (w) {
        case Got::Time:
        case Got::Stopped: return Fail(kRebootNoChallenge, GotName(w));
        case Got::Error: return Fail(kRebootReceiveError, GotName(w));
        case Got::Reply: break;
      }
      if (v.length >= kRebootPayload && ChallengeResponse(v.payload + 16, response)) break;
      log_(LogKind::Skipped, "malformed challenge");
    }
    log_(LogKind::Received, "challenge");
    std::memcpy(payload + 16, response, 24);
    frame = disc::BuildRequest(nonce, kCmdReboot, payload, sizeof payload);
    if (frame.empty() || !ep.Send(frame.data(), frame.size()))
      return Fail(kRebootResponseSendFailed, "response not sent");
    log_(LogKind::Sent, "response");
    return 0;
  }

 private:
  int32_t Fail(int32_t status, const char* why) {
    log_(LogKind::Outcome, "%s: %d", why, status);
    return status;
  }

  DeviceRecord device_;
  JobLog log_;
};

}  // namespace

bool ChallengeResponse(const uint8_t* field, char out[25]) {
  size_t n = 0;
  while (n < 24 && field[n]) ++n;
  std::vector<uint8_t> bytes;
  if (!Base64Decode(std::string(reinterpret_cast<const char*>(field), n), &bytes) || bytes.size() != 16)
    return false;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(~b);
  std::string text = Base64Encode(bytes.data(), bytes.size());
  std::memset(out, 0, 25);
  std::memcpy(out, text.data(), text.size() < 24 ? text.size() : 24);
  return true;
}

int32_t RunSetConfig(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs,
                     ILogSink* log) {
  return net::RunJobAndWait<SetConfigJob>(kSetCfgNotStarted, device, settings, timeoutMs, log);
}

int32_t RunReboot(const DeviceRecord& device, ILogSink* log) {
  return net::RunJobAndWait<RebootCtrl>(kRebootNotStarted, device, log);
}

}  // namespace qs::kvxr
