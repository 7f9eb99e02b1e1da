// The socket classes over the system calls of socket_sys.h: every deadline
// and stop loop lives here once, for both builds.
#include <utility>

#include "platform/socket.h"
#include "platform/socket_sys.h"
#include "platform/tick.h"

namespace qs::plat {

namespace {

// Sends are cut into pieces no larger than this (the larger of what either
// system takes in one call without complaint).
constexpr size_t kSendPiece = 0x10000;

// The time left of a limit started at `start`.
uint32_t Left(uint32_t start, uint32_t ms) {
  if (ms == kInfinite) return kInfinite;
  uint32_t spent = TicksSince(start);
  return spent >= ms ? 0 : ms - spent;
}

}  // namespace

// ---- both ----

namespace detail {

SocketHandle::SocketHandle(SocketHandle&& o) noexcept : s_(o.s_), event_(std::move(o.event_)) { o.s_ = sys::kNoSocket; }

SocketHandle& SocketHandle::operator=(SocketHandle&& o) noexcept {
  if (this != &o) {
    Close();
    s_ = o.s_;
    event_ = std::move(o.event_);
    o.s_ = sys::kNoSocket;
  }
  return *this;
}

void SocketHandle::Close() {
  if (s_ != sys::kNoSocket) sys::CloseSocket(s_, event_);
  s_ = sys::kNoSocket;
  event_.Close();
}

}  // namespace detail

// ---- UDP ----

bool UdpSocket::Open() {
  Close();
  s_ = sys::OpenUdp();
  return s_ != sys::kNoSocket;
}

bool UdpSocket::Bind(uint32_t address, uint16_t port) { return is_open() && sys::Bind(s_, address, port, true); }

bool UdpSocket::SetBroadcast(bool on) { return is_open() && sys::SetOption(s_, sys::Option::Broadcast, on ? 1 : 0); }

bool UdpSocket::SetReceiveBuffer(int bytes) {
  return is_open() && bytes > 0 && sys::SetOption(s_, sys::Option::ReceiveBuffer, static_cast<uint32_t>(bytes));
}

bool UdpSocket::SetMulticastInterface(uint32_t interfaceAddress) {
  return is_open() && sys::SetOption(s_, sys::Option::MulticastInterface, interfaceAddress);
}

bool UdpSocket::SetMulticastTtl(int ttl) {
  return is_open() && ttl >= 0 && ttl <= 255 &&
         sys::SetOption(s_, sys::Option::MulticastTtl, static_cast<uint32_t>(ttl));
}

bool UdpSocket::SetMulticastLoop(bool on) {
  return is_open() && sys::SetOption(s_, sys::Option::MulticastLoop, on ? 1 : 0);
}

bool UdpSocket::JoinGroup(uint32_t group, uint32_t interfaceAddress) {
  return is_open() && sys::Membership(s_, true, group, interfaceAddress);
}

bool UdpSocket::LeaveGroup(uint32_t group, uint32_t interfaceAddress) {
  return is_open() && sys::Membership(s_, false, group, interfaceAddress);
}

bool UdpSocket::SelectRead() { return is_open() && sys::SelectRead(s_, event_); }

WaitObject UdpSocket::readable() const { return sys::Readable(s_, event_); }

bool UdpSocket::PollReadable() { return is_open() && sys::PollReadable(s_, event_); }

int UdpSocket::SendTo(const void* data, size_t len, uint32_t address, uint16_t port) {
  if (!is_open()) return kSockError;
  int n = sys::SendTo(s_, data, len, address, port);
  return n < 0 ? kSockError : n;
}

int UdpSocket::RecvFrom(void* buf, size_t cap, SockAddr* from) {
  return is_open() ? sys::RecvFrom(s_, buf, cap, from) : kSockError;
}

int UdpSocket::RecvFrom(void* buf, size_t cap, SockAddr* from, const WaitLimit& limit) {
  if (!is_open()) return kSockError;
  const uint32_t start = TickCount();
  for (;;) {
    int n = sys::RecvFrom(s_, buf, cap, from);
    if (n != kSockWouldBlock) return n;
    int w = sys::Wait(s_, false, event_, limit.stop, Left(start, limit.ms));
    if (w != kSockOk) return w;
  }
}

SockAddr UdpSocket::LocalAddress() const {
  SockAddr r;
  if (is_open()) sys::LocalAddress(s_, &r);
  return r;
}

// ---- TCP ----

int TcpSocket::Connect(uint32_t address, uint16_t port, const WaitLimit& limit, uint32_t localAddress) {
  Close();
  quickAck_ = false;
  s_ = sys::OpenTcp();
  if (s_ == sys::kNoSocket) return kSockError;
  if (localAddress != kAnyAddress && !sys::Bind(s_, localAddress, 0, false)) {
    Close();
    return kSockError;
  }
  const uint32_t start = TickCount();
  int r = sys::ConnectStart(s_, address, port);
  if (r == kSockWouldBlock) {
    r = sys::Wait(s_, true, event_, limit.stop, Left(start, limit.ms));
    if (r == kSockOk && !sys::ConnectSucceeded(s_)) r = kSockError;
  }
  if (r != kSockOk) Close();
  return r;
}

int TcpSocket::SendAll(const void* data, size_t len, const WaitLimit& limit) {
  const auto* p = static_cast<const char*>(data);
  const uint32_t start = TickCount();
  while (len) {
    if (!is_open()) return kSockError;
    int n = sys::Send(s_, p, len > kSendPiece ? kSendPiece : len);
    if (n > 0) {
      p += n;
      len -= static_cast<size_t>(n);
      continue;
    }
    if (n != kSockWouldBlock) return kSockError;
    int w = sys::Wait(s_, true, event_, limit.stop, Left(start, limit.ms));
    if (w != kSockOk) return w;
  }
  return kSockOk;
}

bool TcpSocket::SetQuickAck() {
  quickAck_ = is_open() && sys::SetOption(s_, sys::Option::QuickAck, 1);
  return quickAck_;
}

int TcpSocket::ReceiveNow(void* buf, size_t cap) {
  int n = sys::Recv(s_, buf, cap);
  if (n > 0 && quickAck_) sys::RenewQuickAck(s_);
  return n;
}

int TcpSocket::Recv(void* buf, size_t cap, const WaitLimit& limit) {
  if (!is_open()) return kSockError;
  const uint32_t start = TickCount();
  for (;;) {
    int n = ReceiveNow(buf, cap);
    if (n != kSockWouldBlock) return n;
    int w = sys::Wait(s_, false, event_, limit.stop, Left(start, limit.ms));
    if (w != kSockOk) return w;
  }
}

int TcpSocket::SendSome(const void* data, size_t len) {
  if (!is_open()) return kSockError;
  int n = sys::Send(s_, data, len > kSendPiece ? kSendPiece : len);
  return n == kSockWouldBlock ? n : (n < 0 ? kSockError : n);
}

int TcpSocket::RecvSome(void* buf, size_t cap) {
  if (!is_open()) return kSockError;
  int n = ReceiveNow(buf, cap);
  return n == kSockWouldBlock ? n : (n < 0 ? kSockError : n);
}

int TcpSocket::WaitReady(bool wantWrite, const WaitLimit& limit, bool* readable, bool* writable) {
  *readable = *writable = false;
  if (!is_open()) return kSockError;
  return sys::WaitEither(s_, wantWrite, event_, limit.stop, limit.ms, readable, writable);
}

int TcpSocket::RecvExactly(void* buf, size_t len, const WaitLimit& limit) {
  auto* p = static_cast<char*>(buf);
  const uint32_t start = TickCount();
  while (len) {
    int n = Recv(p, len, WaitLimit{Left(start, limit.ms), limit.stop});
    if (n == 0) return kSockClosed;
    if (n < 0) return n;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return kSockOk;
}

bool TcpSocket::Listen(uint32_t address, uint16_t port, int backlog) {
  Close();
  s_ = sys::OpenTcp();
  if (s_ == sys::kNoSocket) return false;
  sys::SetOption(s_, sys::Option::ReuseAddress, 1);
  if (!sys::Bind(s_, address, port, false) || !sys::Listen(s_, backlog)) {
    Close();
    return false;
  }
  return true;
}

bool TcpSocket::Accept(TcpSocket& out, uint32_t timeoutMs) {
  if (!is_open()) return false;
  const uint32_t start = TickCount();
  for (;;) {
    int status = kSockError;
    sys::Handle c = sys::Accept(s_, &status);
    if (c != sys::kNoSocket) {
      out.Close();
      out.s_ = c;
      return true;
    }
    if (status != kSockWouldBlock) return false;
    if (sys::Wait(s_, false, event_, WaitObject{}, Left(start, timeoutMs)) != kSockOk) return false;
  }
}

SockAddr TcpSocket::LocalAddress() const {
  SockAddr r;
  if (is_open()) sys::LocalAddress(s_, &r);
  return r;
}

}  // namespace qs::plat
