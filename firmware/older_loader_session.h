// One older boot loader served after its boot message: the offer of an IPv4
// address and the upload of the RAM program, as a state machine driven by
// datagrams and a millisecond clock. No sockets: the driver performs each
// Action (send a datagram, or receive one with a time-out) and reports what
// came of it; every report returns the next Action until Finish.
//
// Offer: the offer goes to 255.255.255.255 at the boot message's port; for
// 5000 ms from the send, a selection carrying this job's identifier starts
// the upload. A send error ends with -104, a receive error with -7. When the
// 5000 ms are over: -1 when a selection for another job came, else -13 when
// anything else came, else -7.
//
// Upload (T = S / 512 + 1 blocks), to the address and port the selection came
// from, from block c = 0: send block c and receive one datagram within
// 1000 ms. No datagram (or a receive error): -7; not an acknowledgement: -14;
// another job identifier: -1; each counts one failed try and the next try
// sends again; the fifth failed try for one block ends with -17. A send error
// ends with -104. An acknowledgement of a: a >= T ends with -15; a = T - 1
// ends with 1 (complete, also when it comes early); a = c moves on to block
// c + 1; any other a makes the session listen again without sending, with a
// fresh count of tries. More than kMaxStrayAcks such acknowledgements for one
// block end with -17 too, so that a device repeating an old acknowledgement
// cannot hold the session for ever.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::fw {

struct UdpEndpoint {
  uint32_t address = 0;  // host order
  uint16_t port = 0;
};

class OlderLoaderSession {
 public:
  static constexpr uint32_t kOfferWindowMs = 5000;
  static constexpr uint32_t kAckTimeoutMs = 1000;
  static constexpr int kTries = 5;
  static constexpr int kMaxStrayAcks = 32;

  // The program is not copied: it must outlive the session.
  OlderLoaderSession(const uint8_t jobId[16], const uint8_t mac[6], uint32_t offeredAddress, uint16_t bootPort,
                     const uint8_t* program, size_t programSize);

  enum class Do { Send, Receive, Finish };
  struct Action {
    Do what = Do::Finish;
    const std::vector<uint8_t>* datagram = nullptr;  // Send: valid until the next call
    UdpEndpoint to;                                    // Send
    uint32_t timeoutMs = 0;                            // Receive
    int32_t status = 0;                                // Finish
  };

  Action Start(uint32_t now);  // the offer
  Action OnSent(bool ok, uint32_t now);
  Action OnDatagram(const uint8_t* p, size_t len, UdpEndpoint from, uint32_t now);
  Action OnTimeout(uint32_t now);
  Action OnReceiveError(uint32_t now);

  enum class Phase { Idle, Offer, Upload, Finished };
  Phase phase() const { return phase_; }
  uint32_t block() const { return block_; }
  size_t blockCount() const { return blocks_; }
  int32_t status() const { return status_; }

 private:
  Action Finish(int32_t status);
  Action OfferDeadline();
  Action Exchange();  // send block c (unless listening only), then receive
  Action FailedTry();
  Action ReceiveAck() const;

  uint8_t jobId_[16];
  uint8_t mac_[6];
  uint32_t offered_;
  uint16_t bootPort_;
  const uint8_t* program_;
  size_t programSize_;
  size_t blocks_;

  Phase phase_ = Phase::Idle;
  std::vector<uint8_t> out_;
  uint32_t deadline_ = 0;
  bool mismatch_ = false;
  bool otherTraffic_ = false;
  UdpEndpoint loader_;
  uint32_t block_ = 0;
  int failedTries_ = 0;
  int strayAcks_ = 0;
  bool listenOnly_ = false;
  int32_t status_ = 0;
};

}  // namespace qs::fw
