// IPv4 UDP and TCP sockets. Addresses are host order; ports are plain numbers.
// Receive errors are values: a datagram longer than the buffer is an error, as
// on Windows, on both builds.
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

constexpr int kSockError = -1;
constexpr int kSockWouldBlock = -2;
constexpr int kSockTimeout = -3;

struct SockAddr {
  uint32_t address = 0;  // host order
  uint16_t port = 0;
};

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket(UdpSocket&& o) noexcept;
  UdpSocket& operator=(UdpSocket&& o) noexcept;

  bool Open();
  // Binding to a local interface's address makes the socket receive that
  // interface's broadcasts too (on Linux: wildcard address tied to the device).
  bool Bind(uint32_t address, uint16_t port);
  bool SetBroadcast(bool on);
  bool SetReceiveBuffer(int bytes);
  // Signalled while a datagram is waiting. On Windows this selects an
  // auto-reset event for readable data (the socket becomes non-blocking).
  bool SelectRead();
  WaitObject readable() const;
  // Fetches and clears the pending readable notification (no waiting).
  bool PollReadable();
  void Close();
  bool is_open() const;

  // bytes sent, or kSockError
  int SendTo(const void* data, size_t len, uint32_t address, uint16_t port);
  // Length (0 allowed), kSockWouldBlock, or kSockError (also for a datagram
  // longer than cap, which is then consumed).
  int RecvFrom(void* buf, size_t cap, SockAddr* from);
  // Waits up to timeoutMs for a datagram and receives it; kSockTimeout when none came.
  int RecvFromTimeout(void* buf, size_t cap, SockAddr* from, uint32_t timeoutMs);
  SockAddr LocalAddress() const;

 private:
  intptr_t s_ = -1;
  Event readEvent_;  // Windows only: WSAEventSelect target
};

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;
  TcpSocket(TcpSocket&& o) noexcept;
  TcpSocket& operator=(TcpSocket&& o) noexcept;

  // Binds to localAddress (0 for any) and connects within the time.
  bool Connect(uint32_t address, uint16_t port, uint32_t timeoutMs, uint32_t localAddress = 0);
  // Sends everything within the time.
  bool SendAll(const void* data, size_t len, uint32_t timeoutMs);
  // bytes > 0, 0 when the peer closed, kSockTimeout, or kSockError
  int Recv(void* buf, size_t cap, uint32_t timeoutMs);
  // Exactly len bytes within the time.
  bool RecvAll(void* buf, size_t len, uint32_t timeoutMs);
  void Close();
  bool is_open() const { return s_ != -1; }

  // Server side, for tests and the simulator.
  bool Listen(uint32_t address, uint16_t port, int backlog = 8);
  bool Accept(TcpSocket& out, uint32_t timeoutMs);
  SockAddr LocalAddress() const;

 private:
  intptr_t s_ = -1;
};

// Dotted text of a host-order address.
void FormatAddress(uint32_t address, char out[16]);

}  // namespace qs::plat
