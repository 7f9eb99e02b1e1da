#include "firmware/older_loader_session.h"

#include <cstring>

#include "firmware/update_status.h"
#include "firmware/wp_messages.h"

namespace qs::fw {

OlderLoaderSession::OlderLoaderSession(const uint8_t jobId[16], const uint8_t mac[6], uint32_t offeredAddress,
                                       uint16_t bootPort, const uint8_t* program, size_t programSize)
    : offered_(offeredAddress),
      bootPort_(bootPort),
      program_(program),
      programSize_(programSize),
      blocks_(UploadBlockCount(programSize)) {
  std::memcpy(jobId_, jobId, 16);
  std::memcpy(mac_, mac, 6);
}

OlderLoaderSession::Action OlderLoaderSession::Finish(int32_t status) {
  phase_ = Phase::Finished;
  status_ = status;
  Action a;
  a.what = Do::Finish;
  a.status = status;
  return a;
}

OlderLoaderSession::Action OlderLoaderSession::Start(uint32_t) {
  if (phase_ != Phase::Idle) return Finish(phase_ == Phase::Finished ? status_ : kOldNoAnswer);
  phase_ = Phase::Offer;
  out_.resize(kOfferSize);
  EncodeOffer(jobId_, mac_, offered_, out_.data());
  Action a;
  a.what = Do::Send;
  a.datagram = &out_;
  a.to = UdpEndpoint{0xFFFFFFFFu, bootPort_};
  return a;
}

OlderLoaderSession::Action OlderLoaderSession::ReceiveAck() const {
  Action a;
  a.what = Do::Receive;
  a.timeoutMs = kAckTimeoutMs;
  return a;
}

OlderLoaderSession::Action OlderLoaderSession::OnSent(bool ok, uint32_t now) {
  switch (phase_) {
    case Phase::Offer: {
      if (!ok) return Finish(kOldSendFailed);
      deadline_ = now + kOfferWindowMs;
      Action a;
      a.what = Do::Receive;
      a.timeoutMs = kOfferWindowMs;
      return a;
    }
    case Phase::Upload:
      if (!ok) return Finish(kOldSendFailed);
      return ReceiveAck();
    case Phase::Finished:
      return Finish(status_);
    default:
      return Finish(kOldNoAnswer);
  }
}

OlderLoaderSession::Action OlderLoaderSession::OfferDeadline() {
  return Finish(mismatch_ ? kOldOtherJob : otherTraffic_ ? kOldOnlyUnrelated : kOldNoAnswer);
}

OlderLoaderSession::Action OlderLoaderSession::Exchange() {
  if (listenOnly_) return ReceiveAck();
  if (!EncodeImageBlock(jobId_, block_, program_, programSize_, out_)) return Finish(kOldBeyondLastBlock);
  Action a;
  a.what = Do::Send;
  a.datagram = &out_;
  a.to = loader_;
  return a;
}

OlderLoaderSession::Action OlderLoaderSession::FailedTry() {
  if (++failedTries_ >= kTries) return Finish(kOldTriesExhausted);
  listenOnly_ = false;
  return Exchange();
}

OlderLoaderSession::Action OlderLoaderSession::OnDatagram(const uint8_t* p, size_t len, UdpEndpoint from,
                                                          uint32_t now) {
  const WpAnswer answer = ParseAnswer(p, len);
  if (phase_ == Phase::Offer) {
    if (answer.kind == WpAnswerKind::Selection) {
      if (std::memcmp(answer.jobId, jobId_, 16) == 0) {
        phase_ = Phase::Upload;
        loader_ = from;
        block_ = 0;
        failedTries_ = 0;
        strayAcks_ = 0;
        listenOnly_ = false;
        return Exchange();
      }
      mismatch_ = true;
    } else {
      otherTraffic_ = true;
    }
    const int32_t left = static_cast<int32_t>(deadline_ - now);
    if (left <= 0) return OfferDeadline();
    Action a;
    a.what = Do::Receive;
    a.timeoutMs = static_cast<uint32_t>(left);
    return a;
  }
  if (phase_ != Phase::Upload) return Finish(phase_ == Phase::Finished ? status_ : kOldNoAnswer);
  if (answer.kind != WpAnswerKind::Acknowledgement) return FailedTry();  // -14
  if (std::memcmp(answer.jobId, jobId_, 16) != 0) return FailedTry();   // -1
  const uint32_t a = answer.block;
  if (a >= blocks_) return Finish(kOldBeyondLastBlock);
  if (a == blocks_ - 1) return Finish(kOldDone);
  if (a == block_) {
    ++block_;
    failedTries_ = 0;
    strayAcks_ = 0;
    listenOnly_ = false;
    return Exchange();
  }
  if (++strayAcks_ > kMaxStrayAcks) return Finish(kOldTriesExhausted);
  failedTries_ = 0;
  listenOnly_ = true;
  return Exchange();
}

OlderLoaderSession::Action OlderLoaderSession::OnTimeout(uint32_t) {
  if (phase_ == Phase::Offer) return OfferDeadline();
  if (phase_ == Phase::Upload) return FailedTry();  // -7
  return Finish(phase_ == Phase::Finished ? status_ : kOldNoAnswer);
}

OlderLoaderSession::Action OlderLoaderSession::OnReceiveError(uint32_t) {
  if (phase_ == Phase::Offer) return Finish(kOldNoAnswer);
  if (phase_ == Phase::Upload) return FailedTry();  // -7
  return Finish(phase_ == Phase::Finished ? status_ : kOldNoAnswer);
}

}  // namespace qs::fw
