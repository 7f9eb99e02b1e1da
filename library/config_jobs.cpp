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
// time, a receive error, or the stop (library shutdown).
enum class Wait { Reply, Time, Error };

// Receives until a datagram that authenticates against the nonce and has the
// type arrives, or the deadline passes; stray datagrams are skipped.
Wait AwaitReply(net::Endpoint& ep, const uint8_t* nonce, uint16_t type, const net::Deadline& d,
                const plat::Event& stop, disc::VerifiedReply* out, void (*other)(void*, const disc::VerifiedReply&),
                void* context) {
  plat::WaitObject stopObj = stop.object();
  for (;;) {
    if (d.Expired()) return Wait::Time;
    int n = ep.Receive(d.Remaining(), &stopObj, 1);
    if (n < 0) return Wait::Error;
    if (n == 0) {
      if (ep.lastWait() == 0) return Wait::Time;  // shutdown: the job gives up
      if (ep.lastWait() == plat::kWaitFailed) stop.Wait(10);
      continue;
    }
    disc::VerifiedReply v;
    if (!disc::VerifyReply(nonce, ep.buffer(), static_cast<size_t>(n), &v)) continue;
    if (v.type == type) {
      *out = v;
      return Wait::Reply;
    }
    if (other) other(context, v);
  }
}

bool OpenBroadcast(net::Endpoint& ep, uint32_t interfaceAddress) {
  bool ok = ep.Open(interfaceAddress, 0) && ep.SetBroadcast(true);
  ep.SetDestination(plat::kBroadcastAddress, kKvxrPort);
  return ok;
}

class SetConfigJob : public net::Worker {
 public:
  SetConfigJob(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs)
      : Worker(timeoutMs), device_(device), settings_(settings) {}

 protected:
  int32_t Body(const net::Deadline& d, const plat::Event& stop) override {
    CurrentDevice current;
    int32_t st = Rediscover(d, stop, &current);
    if (st != 0) return st;

    net::Endpoint ep;
    OpenBroadcast(ep, device_.interfaceAddress);
    uint8_t nonce[disc::kNonceSize];
    if (!disc::MakeNonce(nonce)) return kSetCfgRefused;
    std::vector<uint8_t> payload = SetConfigPayload(settings_, current);
    std::vector<uint8_t> frame = disc::BuildRequest(nonce, kCmdSetConfig, payload.data(), payload.size());
    if (frame.empty() || !ep.Send(frame.data(), frame.size())) return kSetCfgRefused;
    disc::VerifiedReply ack;
    switch (AwaitReply(ep, nonce, kReplySetConfigAck, d, stop, &ack, nullptr, nullptr)) {
      case Wait::Time: return kSetCfgNoAck;
      case Wait::Error: return kSetCfgReceiveError;
      case Wait::Reply: break;
    }
    return ack.length >= 1 && ack.payload[0] == 1 ? 0 : kSetCfgRefused;
  }

 private:
  struct Seen {
    SetConfigJob* self;
    CurrentDevice* current;
  };

  static void OnOther(void* c, const disc::VerifiedReply& v) {
    auto* s = static_cast<Seen*>(c);
    if (v.type != kReplyOpModeReport) return;
    HwId id;
    uint8_t mode = 0;
    if (ParseOpModeReport(v.payload, v.length, &id, &mode) &&
        std::memcmp(id.bytes, s->self->device_.hardwareId, kHwIdSize) == 0) {
      s->self->reportedMode_ = mode;
      s->self->haveReportedMode_ = true;
    }
  }

  int32_t Rediscover(const net::Deadline& d, const plat::Event& stop, CurrentDevice* out) {
    net::Endpoint ep;
    OpenBroadcast(ep, device_.interfaceAddress);
    uint8_t nonce[disc::kNonceSize];
    if (disc::MakeNonce(nonce)) {
      std::vector<uint8_t> req = disc::BuildRequest(nonce, disc::kCmdDiscover, nullptr, 0);
      if (!req.empty()) ep.Send(req.data(), req.size());
    }
    Seen seen{this, out};
    for (;;) {
      disc::VerifiedReply v;
      switch (AwaitReply(ep, nonce, disc::kReplyAnnounce, d, stop, &v, &SetConfigJob::OnOther, &seen)) {
        case Wait::Time: return kRediscoveryTimeout;
        case Wait::Error: return kRediscoveryReceiveError;
        case Wait::Reply: break;
      }
      CurrentDevice c;
      if (!CurrentFromAnnounce(v.payload, v.length, &c)) continue;
      if (std::memcmp(c.hardwareId, device_.hardwareId, kHwIdSize) != 0) continue;
      // The device's mode as it reported it now; without a report, the one
      // of the scan, so that an address change never resets the mode.
      c.operationMode = haveReportedMode_ ? reportedMode_ : device_.operationMode;
      *out = c;
      return 0;
    }
  }

  DeviceRecord device_;
  NetworkSettings settings_;
  uint8_t reportedMode_ = 0;
  bool haveReportedMode_ = false;
};

class RebootCtrl : public net::Worker {
 public:
  explicit RebootCtrl(const DeviceRecord& device) : Worker(kChallengeWaitMs), device_(device) {}

 protected:
  int32_t Body(const net::Deadline&, const plat::Event& stop) override {
    net::Endpoint ep;
    if (!ep.Open(device_.interfaceAddress, 0)) return kRebootNoSocket;
    if (!ep.SetBroadcast(true)) return kRebootNoBroadcast;
    ep.SetDestination(plat::kBroadcastAddress, kKvxrPort);
    uint8_t nonce[disc::kNonceSize];
    if (!disc::MakeNonce(nonce)) return kRebootSendFailed;
    uint8_t payload[kRebootPayload] = {};
    std::memcpy(payload, device_.hardwareId, kHwIdSize);
    std::vector<uint8_t> frame = disc::BuildRequest(nonce, kCmdReboot, payload, sizeof payload);
    if (frame.empty() || !ep.Send(frame.data(), frame.size())) return kRebootSendFailed;

    const net::Deadline d = net::Deadline::FromNow(kChallengeWaitMs);
    char response[25];
    for (;;) {
      disc::VerifiedReply v;
      switch (AwaitReply(ep, nonce, kReplyChallenge, d, stop, &v, nullptr, nullptr)) {
        case Wait::Time: return kRebootNoChallenge;
        case Wait::Error: return kRebootReceiveError;
        case Wait::Reply: break;
      }
      if (v.length < kRebootPayload) continue;
      if (ChallengeResponse(v.payload + 16, response)) break;  // a malformed one is skipped
    }
    std::memcpy(payload + 16, response, 24);
    frame = disc::BuildRequest(nonce, kCmdReboot, payload, sizeof payload);
    if (frame.empty() || !ep.Send(frame.data(), frame.size())) return kRebootResponseSendFailed;
    return 0;
  }

 private:
  DeviceRecord device_;
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

int32_t RunSetConfig(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs) {
  return net::RunJobAndWait<SetConfigJob>(kSetCfgNotStarted, device, settings, timeoutMs);
}

int32_t RunReboot(const DeviceRecord& device) { return net::RunJobAndWait<RebootCtrl>(kRebootNotStarted, device); }

}  // namespace qs::kvxr
