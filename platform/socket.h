// IPv4 UDP and TCP sockets. Addresses are host order; ports are plain numbers.
// Receive errors are values: a datagram longer than the buffer is consumed
// and reported as kSockTruncated, on both builds.
//
// Every wait takes a WaitLimit: a time-out and, optionally, a stop object (a
// job's stop event) that ends the wait early with kSockStopped.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/event.h"

namespace qs::plat {

// Starts the sockets library for the calling scope (WSAStartup 2.2 on Windows).
class SocketsLibrary {
 public:
  SocketsLibrary();
  ~SocketsLibrary();
  SocketsLibrary(const SocketsLibrary&) = delete;
  SocketsLibrary& operator=(const SocketsLibrary&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

constexpr uint32_t kAnyAddress = 0;
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;

constexpr int kSockOk = 0;
constexpr int kSockError = -1;       // the socket itself failed
constexpr int kSockWouldBlock = -2;  // nothing there now (non-waiting calls)
constexpr int kSockTimeout = -3;
constexpr int kSockStopped = -4;    // the stop object ended the wait
constexpr int kSockTruncated = -5;  // a datagram longer than the buffer, consumed
constexpr int kSockClosed = -6;     // the peer closed the stream before the end

// How long a call may wait, and what ends the wait early.
struct WaitLimit {
  uint32_t ms = kInfinite;
  WaitObject stop;  // not valid: nothing but the time ends the wait
};

struct SockAddr {
  uint32_t address = 0;  // host order
  uint16_t port = 0;
};

namespace detail {
// What both kinds of socket hold: the system socket and, on Windows, the
// event its network events are selected on. Movable, closes on destruction.
class SocketHandle {
 public:
  SocketHandle() = default;
  ~SocketHandle() { Close(); }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  SocketHandle(SocketHandle&& o) noexcept;
  SocketHandle& operator=(SocketHandle&& o) noexcept;
  void Close();
  bool is_open() const { return s_ != -1; }

 protected:
  intptr_t s_ = -1;
  Event event_;
};
}  // namespace detail

class UdpSocket : public detail::SocketHandle {
 public:

  bool Open();
  // Binding to a local interface's address makes the socket receive that
  // interface's broadcasts and the multicast groups joined on it too (on
  // Linux: wildcard address tied to the device).
  bool Bind(uint32_t address, uint16_t port);
  bool SetBroadcast(bool on);
  bool SetReceiveBuffer(int bytes);
  // Multicast sends leave through the interface with this address.
  bool SetMulticastInterface(uint32_t interfaceAddress);
  bool SetMulticastTtl(int ttl);
  // Whether this host's own sockets receive what it sends to a group.
  bool SetMulticastLoop(bool on);
  // Receives the group's datagrams that arrive on the interface with this address.
  bool JoinGroup(uint32_t group, uint32_t interfaceAddress);
  bool LeaveGroup(uint32_t group, uint32_t interfaceAddress);
  // Signalled while a datagram is waiting. On Windows this selects an
  // auto-reset event for readable data (the socket becomes non-blocking).
  bool SelectRead();
  WaitObject readable() const;
  // Fetches and clears the pending readable notification (no waiting).
  bool PollReadable();

  // bytes sent, or kSockError
  int SendTo(const void* data, size_t len, uint32_t address, uint16_t port);
  // Length (0 allowed), kSockWouldBlock, kSockTruncated, or kSockError.
  int RecvFrom(void* buf, size_t cap, SockAddr* from);
  // Waits for a datagram and receives it: its length, kSockTimeout,
  // kSockStopped, kSockTruncated or kSockError.
  int RecvFrom(void* buf, size_t cap, SockAddr* from, const WaitLimit& limit);
  int RecvFromTimeout(void* buf, size_t cap, SockAddr* from, uint32_t timeoutMs) {
    return RecvFrom(buf, cap, from, WaitLimit{timeoutMs, WaitObject{}});
  }
  SockAddr LocalAddress() const;
};

class TcpSocket : public detail::SocketHandle {
 public:

  // Binds to localAddress (0 for any) and connects: kSockOk, kSockTimeout,
  // kSockStopped or kSockError (refused, unreachable).
  int Connect(uint32_t address, uint16_t port, const WaitLimit& limit, uint32_t localAddress = 0);
  // Acknowledges what arrives at once (for request-and-answer exchanges,
  // where a delayed acknowledgement holds up the peer's next small send);
  // renewed after each receive. false where the system has no such setting.
  bool SetQuickAck();
  // Everything, within the limit (one deadline for the whole call): kSockOk,
  // kSockTimeout, kSockStopped or kSockError.
  int SendAll(const void* data, size_t len, const WaitLimit& limit);
  // bytes > 0, 0 when the peer closed, kSockTimeout, kSockStopped or kSockError
  int Recv(void* buf, size_t cap, const WaitLimit& limit);
  // Exactly len bytes within the limit: kSockOk, kSockClosed, kSockTimeout,
  // kSockStopped or kSockError.
  int RecvExactly(void* buf, size_t len, const WaitLimit& limit);

  // Without waiting: bytes sent (possibly fewer than len), kSockWouldBlock or
  // kSockError.
  int SendSome(const void* data, size_t len);
  // Without waiting: bytes received, 0 when the peer closed, kSockWouldBlock
  // or kSockError.
  int RecvSome(void* buf, size_t cap);
  // Waits until data (or the peer's close, or a failure) can be read, or
  // (wantWrite) a send would take bytes: kSockOk with the directions marked,
  // kSockTimeout, kSockStopped or kSockError.
  int WaitReady(bool wantWrite, const WaitLimit& limit, bool* readable, bool* writable);

  // The same with a time-out alone.
  bool Connect(uint32_t address, uint16_t port, uint32_t timeoutMs, uint32_t localAddress = 0) {
    return Connect(address, port, WaitLimit{timeoutMs, WaitObject{}}, localAddress) == kSockOk;
  }
  bool SendAll(const void* data, size_t len, uint32_t timeoutMs) {
    return SendAll(data, len, WaitLimit{timeoutMs, WaitObject{}}) == kSockOk;
  }
  int Recv(void* buf, size_t cap, uint32_t timeoutMs) { return Recv(buf, cap, WaitLimit{timeoutMs, WaitObject{}}); }
  bool RecvAll(void* buf, size_t len, uint32_t timeoutMs) {
    return RecvExactly(buf, len, WaitLimit{timeoutMs, WaitObject{}}) == kSockOk;
  }

  // Server side, for tests and the simulator.
  bool Listen(uint32_t address, uint16_t port, int backlog = 8);
  bool Accept(TcpSocket& out, uint32_t timeoutMs);
  SockAddr LocalAddress() const;

 private:
  // One receive without waiting, renewing the quick acknowledgement.
  int ReceiveNow(void* buf, size_t cap);

  bool quickAck_ = false;
};

}  // namespace qs::plat
