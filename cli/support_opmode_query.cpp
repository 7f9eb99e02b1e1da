#include "cli/support_opmode_query.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "library/opmode_report.h"
#include "net/udp_endpoint.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/bytes.h"

namespace qs::cli {

static_assert(kOpModeMaxInterfaces <= net::kMaxExtraHandles + 1, "one wait takes every socket");

OpModeReply ReadOpModeReply(const uint8_t nonce[disc::kNonceSize], const uint8_t hardwareId[kHardwareIdSize],
                            const uint8_t* data, size_t len, uint8_t* mode) {
  disc::VerifiedReply v;
  if (!disc::VerifyReply(nonce, data, len, &v)) return OpModeReply::NotCurrent;
  if (v.type != disc::kReplyOpModeReport) return OpModeReply::OtherType;
  kvxr::OpModeReport r;
  if (!kvxr::DecodeOpModeReport(v.payload, v.length, &r)) return OpModeReply::Incomplete;
  if (std::memcmp(r.hardwareId, hardwareId, kHardwareIdSize) != 0) return OpModeReply::OtherDevice;
  *mode = r.mode;
  return OpModeReply::Report;
}

std::vector<net::InterfaceEntry> InterfacesToAsk(const std::vector<net::InterfaceEntry>& all, uint32_t deviceAddress) {
  std::vector<net::InterfaceEntry> same;
  for (const net::InterfaceEntry& e : all)
    if ((e.address & e.netmask) == (deviceAddress & e.netmask)) same.push_back(e);
  std::vector<net::InterfaceEntry> out = same.empty() ? all : same;
  if (out.size() > kOpModeMaxInterfaces) out.resize(kOpModeMaxInterfaces);
  return out;
}

namespace {

// One socket per interface asked, each sending to its own destination.
class Asker {
 public:
  Asker(const OpModeQuestion& q, OpModeAnswer* answer) : q_(q), answer_(answer) {}

  bool Open(const std::vector<net::InterfaceEntry>& interfaces) {
    for (const net::InterfaceEntry& e : interfaces) {
      auto ep = std::make_unique<net::Endpoint>();
      if (!ep->Open(e.address, 0) || !ep->SetBroadcast(true)) {
        failed_ += (failed_.empty() ? "" : ", ") + bytes::FormatIpv4(e.address);
        continue;
      }
      ep->SetDestination(q_.limitedBroadcast ? plat::kBroadcastAddress : net::DirectedBroadcast(e.address, e.netmask),
                         disc::kCommandPort);
      eps_.push_back(std::move(ep));
    }
    for (size_t i = 1; i < eps_.size(); ++i) extra_.push_back(eps_[i]->readable());
    return !eps_.empty();
  }
  const std::string& failed() const { return failed_; }

  void Run() {
    SendRequest();
    lastTraffic_ = lastSend_;
    const net::Deadline window = net::Deadline::FromNow(kOpModeAskMs);
    while (!window.Expired()) {
      const uint32_t quiet = plat::TicksSince(lastTraffic_);
      const uint32_t wait = std::min(quiet >= kOpModeResendMs ? 0 : kOpModeResendMs - quiet, window.Remaining());
      net::Endpoint* ep = eps_[0].get();
      int n = ep->Receive(wait, extra_.data(), extra_.size());
      const uint32_t woke = ep->lastWait();
      if (n == 0 && woke < extra_.size()) {  // another interface's socket
        ep = eps_[woke + 1].get();
        n = ep->ReceiveWaiting();
        if (n == 0) continue;
      }
      if (n > 0) {
        lastTraffic_ = plat::TickCount();
        uint8_t mode = 0;
        if (ReadOpModeReply(nonce_, q_.hardwareId, ep->buffer(), static_cast<size_t>(n), &mode) ==
            OpModeReply::Report) {
          answer_->outcome = OpModeOutcome::Heard;
          answer_->mode = mode;
          return;
        }
        ++answer_->skipped;
        continue;
      }
      if (n == net::kStrayDatagram) {  // empty or beyond the buffer
        lastTraffic_ = plat::TickCount();
        ++answer_->skipped;
        continue;
      }
      if (n == 0 && woke == plat::kWaitTimeout) {
        if (plat::TicksSince(lastTraffic_) >= kOpModeResendMs && !window.Expired()) {
          SendRequest();
          lastTraffic_ = lastSend_;
        }
        continue;
      }
      // A receive error or a failed wait: a new request, but never faster
      // than the quiet spell, so a stream of errors is no flood.
      if (plat::TicksSince(lastSend_) >= kOpModeResendMs) SendRequest();
      else plat::SleepMs(10);
    }
  }

 private:
  // A new nonce each time: answers to an earlier request no longer count.
  void SendRequest() {
    lastSend_ = plat::TickCount();
    uint8_t fresh[disc::kNonceSize];
    if (!disc::MakeNonce(fresh)) return;
    std::vector<uint8_t> req = disc::BuildRequest(fresh, disc::kCmdDiscover, nullptr, 0);
    if (req.empty()) return;
    std::memcpy(nonce_, fresh, sizeof nonce_);
    bool sent = false;
    for (auto& ep : eps_) sent = ep->Send(req.data(), req.size()) || sent;
    if (sent) ++answer_->requests;
  }

  const OpModeQuestion& q_;
  OpModeAnswer* answer_;
  std::vector<std::unique_ptr<net::Endpoint>> eps_;
  std::vector<plat::WaitObject> extra_;
  std::string failed_;
  uint8_t nonce_[disc::kNonceSize] = {};
  uint32_t lastSend_ = 0;
  uint32_t lastTraffic_ = 0;
};

}  // namespace

OpModeAnswer AskOperationMode(const OpModeQuestion& q, net::InterfaceQueryFn query) {
  OpModeAnswer answer;
  plat::SocketsLibrary sockets;
  net::InterfaceList list(false, query);
  if (!list.Build()) {
    answer.why = "the local network interfaces could not be listed";
    return answer;
  }
  const std::vector<net::InterfaceEntry> interfaces = InterfacesToAsk(list.entries(), q.deviceAddress);
  if (interfaces.empty()) {
    answer.why = "no usable network interface (IPv4, up, not loopback)";
    return answer;
  }
  Asker asker(q, &answer);
  if (!asker.Open(interfaces)) {
    answer.why = "no socket with broadcasts on " + asker.failed();
    return answer;
  }
  asker.Run();
  if (answer.outcome != OpModeOutcome::Heard) {
    answer.outcome = answer.requests ? OpModeOutcome::Silent : OpModeOutcome::NotAsked;
    if (!answer.requests) answer.why = "the discover request could not be sent";
  }
  return answer;
}

}  // namespace qs::cli
