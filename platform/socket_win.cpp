#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include <cstdio>
#include <utility>

#include "platform/socket.h"
#include "platform/tick.h"
#include "platform/wait_kinds.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace qs::plat {

namespace {

SOCKET S(intptr_t s) { return static_cast<SOCKET>(s); }
constexpr intptr_t kNone = -1;

sockaddr_in Make(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

uint32_t Remaining(uint32_t start, uint32_t timeoutMs) {
  if (timeoutMs == kInfinite) return kInfinite;
  uint32_t spent = TicksSince(start);
  return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

// 1 ready, 0 time-out, -1 error
int WaitSocket(SOCKET s, bool forWrite, uint32_t start, uint32_t timeoutMs) {
  fd_set set, errs;
  FD_ZERO(&set);
  FD_ZERO(&errs);
  FD_SET(s, &set);
  FD_SET(s, &errs);
  uint32_t left = Remaining(start, timeoutMs);
  timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
  int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errs, left == kInfinite ? nullptr : &tv);
  if (n < 0) return -1;
  if (n == 0) return 0;
  return FD_ISSET(s, &set) ? 1 : -1;
}

void SetNonBlocking(SOCKET s) {
  u_long one = 1;
  ioctlsocket(s, FIONBIO, &one);
}

}  // namespace

SocketsLibrary::SocketsLibrary() {
  WSADATA d;
  ok_ = WSAStartup(MAKEWORD(2, 2), &d) == 0;
}

SocketsLibrary::~SocketsLibrary() {
  if (ok_) WSACleanup();
}

void FormatAddress(uint32_t a, char out[16]) {
  std::snprintf(out, 16, "%u.%u.%u.%u", (a >> 24) & 255u, (a >> 16) & 255u, (a >> 8) & 255u, a & 255u);
}

// ---- UDP ----

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& o) noexcept : s_(o.s_), readEvent_(std::move(o.readEvent_)) { o.s_ = kNone; }

UdpSocket& UdpSocket::operator=(UdpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    s_ = o.s_;
    readEvent_ = std::move(o.readEvent_);
    o.s_ = kNone;
  }
  return *this;
}

bool UdpSocket::Open() {
  Close();
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return false;
  s_ = static_cast<intptr_t>(s);
  SetNonBlocking(s);
  // Otherwise an ICMP "port unreachable" for an earlier send fails a later receive.
  BOOL no = FALSE;
  DWORD bytes = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &no, sizeof no, nullptr, 0, &bytes, nullptr, nullptr);
  return true;
}

bool UdpSocket::is_open() const { return s_ != kNone; }

void UdpSocket::Close() {
  if (s_ != kNone) closesocket(S(s_));
  s_ = kNone;
  readEvent_.Close();
}

bool UdpSocket::Bind(uint32_t address, uint16_t port) {
  if (s_ == kNone) return false;
  sockaddr_in a = Make(address, port);
  return bind(S(s_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool UdpSocket::SetBroadcast(bool on) {
  BOOL v = on ? TRUE : FALSE;
  return s_ != kNone && setsockopt(S(s_), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

bool UdpSocket::SetReceiveBuffer(int bytes) {
  return s_ != kNone &&
         setsockopt(S(s_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool UdpSocket::SelectRead() {
  if (s_ == kNone) return false;
  if (!readEvent_.valid() && !readEvent_.Create(false, false)) return false;
  HANDLE ev = reinterpret_cast<HANDLE>(readEvent_.object().native);
  if (WSAEventSelect(S(s_), ev, FD_READ) != 0) {
    readEvent_.Close();
    return false;
  }
  return true;
}

WaitObject UdpSocket::readable() const {
  WaitObject o = readEvent_.object();
  o.kind = kKindSocket;
  return o;
}

bool UdpSocket::PollReadable() {
  if (s_ == kNone) return false;
  if (readEvent_.valid()) {
    WSANETWORKEVENTS ne{};
    HANDLE ev = reinterpret_cast<HANDLE>(readEvent_.object().native);
    if (WSAEnumNetworkEvents(S(s_), ev, &ne) != 0) return false;
    return (ne.lNetworkEvents & FD_READ) && ne.iErrorCode[FD_READ_BIT] == 0;
  }
  return WaitSocket(S(s_), false, TickCount(), 0) == 1;
}

int UdpSocket::SendTo(const void* data, size_t len, uint32_t address, uint16_t port) {
  if (s_ == kNone) return kSockError;
  sockaddr_in a = Make(address, port);
  int n = sendto(S(s_), static_cast<const char*>(data), static_cast<int>(len), 0,
                 reinterpret_cast<sockaddr*>(&a), sizeof a);
  return n == SOCKET_ERROR ? kSockError : n;
}

int UdpSocket::RecvFrom(void* buf, size_t cap, SockAddr* from) {
  if (s_ == kNone) return kSockError;
  sockaddr_in a{};
  int alen = sizeof a;
  int n = recvfrom(S(s_), static_cast<char*>(buf), static_cast<int>(cap), 0, reinterpret_cast<sockaddr*>(&a), &alen);
  if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? kSockWouldBlock : kSockError;
  if (from) {
    from->address = ntohl(a.sin_addr.s_addr);
    from->port = ntohs(a.sin_port);
  }
  return n;
}

int UdpSocket::RecvFromTimeout(void* buf, size_t cap, SockAddr* from, uint32_t timeoutMs) {
  const uint32_t start = TickCount();
  for (;;) {
    int w = WaitSocket(S(s_), false, start, timeoutMs);
    if (w < 0) return kSockError;
    if (w == 0) return kSockTimeout;
    int n = RecvFrom(buf, cap, from);
    if (n != kSockWouldBlock) return n;
  }
}

SockAddr UdpSocket::LocalAddress() const {
  SockAddr r;
  sockaddr_in a{};
  int alen = sizeof a;
  if (s_ != kNone && getsockname(S(s_), reinterpret_cast<sockaddr*>(&a), &alen) == 0) {
    r.address = ntohl(a.sin_addr.s_addr);
    r.port = ntohs(a.sin_port);
  }
  return r;
}

// ---- TCP ----

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& o) noexcept : s_(o.s_) { o.s_ = kNone; }

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    s_ = o.s_;
    o.s_ = kNone;
  }
  return *this;
}

void TcpSocket::Close() {
  if (s_ != kNone) closesocket(S(s_));
  s_ = kNone;
}

bool TcpSocket::Connect(uint32_t address, uint16_t port, uint32_t timeoutMs, uint32_t localAddress) {
  Close();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  s_ = static_cast<intptr_t>(s);
  SetNonBlocking(s);
  if (localAddress != kAnyAddress) {
    sockaddr_in l = Make(localAddress, 0);
    if (bind(s, reinterpret_cast<sockaddr*>(&l), sizeof l) != 0) {
      Close();
      return false;
    }
  }
  sockaddr_in a = Make(address, port);
  const uint32_t start = TickCount();
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK || WaitSocket(s, true, start, timeoutMs) != 1) {
      Close();
      return false;
    }
    int err = 0;
    int elen = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &elen) != 0 || err != 0) {
      Close();
      return false;
    }
  }
  return true;
}

bool TcpSocket::SendAll(const void* data, size_t len, uint32_t timeoutMs) {
  const auto* p = static_cast<const char*>(data);
  const uint32_t start = TickCount();
  while (len) {
    if (s_ == kNone) return false;
    int chunk = len > 0x10000 ? 0x10000 : static_cast<int>(len);
    int n = send(S(s_), p, chunk, 0);
    if (n > 0) {
      p += n;
      len -= static_cast<size_t>(n);
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (WaitSocket(S(s_), true, start, timeoutMs) != 1) return false;
      continue;
    }
    return false;
  }
  return true;
}

int TcpSocket::Recv(void* buf, size_t cap, uint32_t timeoutMs) {
  if (s_ == kNone) return kSockError;
  const uint32_t start = TickCount();
  for (;;) {
    int n = recv(S(s_), static_cast<char*>(buf), static_cast<int>(cap), 0);
    if (n >= 0) return n;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return kSockError;
    int w = WaitSocket(S(s_), false, start, timeoutMs);
    if (w < 0) return kSockError;
    if (w == 0) return kSockTimeout;
  }
}

bool TcpSocket::RecvAll(void* buf, size_t len, uint32_t timeoutMs) {
  auto* p = static_cast<char*>(buf);
  const uint32_t start = TickCount();
  while (len) {
    uint32_t left = Remaining(start, timeoutMs);
    if (left == 0) return false;
    int n = Recv(p, len, left);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool TcpSocket::Listen(uint32_t address, uint16_t port, int backlog) {
  Close();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  s_ = static_cast<intptr_t>(s);
  SetNonBlocking(s);
  sockaddr_in a = Make(address, port);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0) {
    Close();
    return false;
  }
  return true;
}

bool TcpSocket::Accept(TcpSocket& out, uint32_t timeoutMs) {
  if (s_ == kNone) return false;
  const uint32_t start = TickCount();
  for (;;) {
    SOCKET c = accept(S(s_), nullptr, nullptr);
    if (c != INVALID_SOCKET) {
      SetNonBlocking(c);
      out.Close();
      out.s_ = static_cast<intptr_t>(c);
      return true;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    if (WaitSocket(S(s_), false, start, timeoutMs) != 1) return false;
  }
}

SockAddr TcpSocket::LocalAddress() const {
  SockAddr r;
  sockaddr_in a{};
  int alen = sizeof a;
  if (s_ != kNone && getsockname(S(s_), reinterpret_cast<sockaddr*>(&a), &alen) == 0) {
    r.address = ntohl(a.sin_addr.s_addr);
    r.port = ntohs(a.sin_port);
  }
  return r;
}

}  // namespace qs::plat
