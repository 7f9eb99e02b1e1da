// The library's datagram endpoint: one UDP socket bound to a local interface,
// a readable-data notification to wait on together with other objects, and a
// receive buffer. Every short datagram exchange with a device goes through one.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/event.h"
#include "platform/socket.h"
#include "platform/tick.h"

namespace qs::net {

constexpr size_t kEndpointBufferSize = 2048;
constexpr size_t kMaxExtraHandles = 9;
constexpr int kTooManyHandles = -999;
constexpr int kReceiveError = -1;   // the socket itself failed
constexpr int kStrayDatagram = -2;  // an empty datagram or one beyond the buffer: not a reply, skipped

// A duration from a start tick; time-outs are differences of ticks.
struct Deadline {
  uint32_t duration = 0;
  uint32_t start = 0;

  static Deadline FromNow(uint32_t ms) { return Deadline{ms, plat::TickCount()}; }
  bool Expired() const { return plat::TicksSince(start) >= duration; }
  uint32_t Remaining() const {
    uint32_t spent = plat::TicksSince(start);
    return spent >= duration ? 0 : duration - spent;
  }
};

class Endpoint {
 public:
  Endpoint() = default;
  ~Endpoint() { Close(); }
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  // Binds to the address (host order) and port, ready to be waited on. On
  // failure nothing stays open.
  bool Open(uint32_t address, uint16_t port);
  void Close();
  bool is_open() const { return socket_.is_open(); }
  bool SetBroadcast(bool on) { return socket_.SetBroadcast(on); }
  bool SetReceiveBuffer(int bytes) { return socket_.SetReceiveBuffer(bytes); }

  // Waits up to timeoutMs for any of the extra objects or a datagram (the
  // socket comes last in the wait). Returns the datagram's length (read it
  // from buffer()); 0 when the wait ended otherwise (see lastWait());
  // kStrayDatagram for a datagram that was received but can be no reply
  // (empty, or longer than the buffer; sender() tells whose); kReceiveError
  // when the socket failed; kTooManyHandles for more than kMaxExtraHandles.
  int Receive(uint32_t timeoutMs, const plat::WaitObject* extra = nullptr, size_t count = 0);

  // One datagram if one is waiting, without waiting (after a wait elsewhere
  // on readable()): its length, 0 when none is, kStrayDatagram or kReceiveError.
  int ReceiveWaiting();
  // Signalled while a datagram waits, to wait on together with other objects.
  plat::WaitObject readable() const { return socket_.readable(); }

  // Sends to the destination; false when nothing was sent.
  bool Send(const void* data, size_t len);
  void SetDestination(uint32_t address, uint16_t port) { destination_ = plat::SockAddr{address, port}; }
  const plat::SockAddr& destination() const { return destination_; }

  const uint8_t* buffer() const { return buffer_; }
  const plat::SockAddr& sender() const { return sender_; }
  // Result of the last wait that did not end in a datagram: the index of the
  // extra object that ended it, plat::kWaitTimeout or plat::kWaitFailed.
  uint32_t lastWait() const { return lastWait_; }

 private:
  plat::UdpSocket socket_;
  uint32_t lastWait_ = 0;
  plat::SockAddr destination_;
  plat::SockAddr sender_;
  uint8_t buffer_[kEndpointBufferSize] = {};
};

// Test seam: the next `count` endpoint opens fail, and the next `count`
// datagrams received by any endpoint of the process end in a receive error
// instead, as a failing socket would.
void InjectOpenFailures(uint32_t count);
void InjectReceiveErrors(uint32_t count);

}  // namespace qs::net
