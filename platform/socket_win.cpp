// The socket system calls on Windows (Winsock 2).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include "platform/sockaddr_in.h"
#include "platform/socket.h"
#include "platform/socket_sys.h"
#include "platform/tick.h"
#include "platform/wait_kinds.h"

#ifndef SIO_TCP_SET_ACK_FREQUENCY
#define SIO_TCP_SET_ACK_FREQUENCY _WSAIOW(IOC_VENDOR, 23)
#endif
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace qs::plat {

namespace {

SOCKET S(sys::Handle s) { return static_cast<SOCKET>(s); }
HANDLE H(const Event& e) { return reinterpret_cast<HANDLE>(e.object().native); }

bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

sys::Handle Made(SOCKET s) {
  if (s == INVALID_SOCKET) return sys::kNoSocket;
  u_long one = 1;
  ioctlsocket(s, FIONBIO, &one);
  return static_cast<sys::Handle>(s);
}

// Whether the socket is ready now in the directions asked for: 1 ready, 0
// not yet, -1 the check itself failed. A failed or closed socket counts as
// readable (the next call says what happened).
int ReadyNow(SOCKET s, bool wantRead, bool wantWrite, bool* readable, bool* writable) {
  fd_set rd, wr, errs;
  FD_ZERO(&rd);
  FD_ZERO(&wr);
  FD_ZERO(&errs);
  FD_SET(s, &rd);
  FD_SET(s, &wr);
  FD_SET(s, &errs);
  timeval zero{0, 0};
  int n = select(0, wantRead ? &rd : nullptr, wantWrite ? &wr : nullptr, &errs, &zero);
  if (n < 0) return -1;
  *readable = (wantRead && FD_ISSET(s, &rd)) || FD_ISSET(s, &errs);
  *writable = wantWrite && FD_ISSET(s, &wr);
  return (*readable || *writable) ? 1 : 0;
}

}  // namespace

SocketsLibrary::SocketsLibrary() {
  WSADATA d;
  ok_ = WSAStartup(MAKEWORD(2, 2), &d) == 0;
}

SocketsLibrary::~SocketsLibrary() {
  if (ok_) WSACleanup();
}

namespace sys {

Handle OpenUdp() {
  Handle h = Made(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (h != kNoSocket) {
    // Otherwise an ICMP "port unreachable" for an earlier send fails a later receive.
    BOOL no = FALSE;
    DWORD bytes = 0;
    WSAIoctl(S(h), SIO_UDP_CONNRESET, &no, sizeof no, nullptr, 0, &bytes, nullptr, nullptr);
  }
  return h;
}

Handle OpenTcp() { return Made(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

void CloseSocket(Handle s, Event&) { closesocket(S(s)); }

bool Bind(Handle s, uint32_t address, uint16_t port, bool) {
  sockaddr_in a = ToSockaddr(address, port);
  return bind(S(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool Listen(Handle s, int backlog) { return listen(S(s), backlog) == 0; }

bool SetOption(Handle s, Option o, uint32_t value) {
  DWORD v = value;
  const char* p = reinterpret_cast<const char*>(&v);
  switch (o) {
    case Option::Broadcast: return setsockopt(S(s), SOL_SOCKET, SO_BROADCAST, p, sizeof v) == 0;
    case Option::ReuseAddress: return setsockopt(S(s), SOL_SOCKET, SO_REUSEADDR, p, sizeof v) == 0;
    case Option::ReceiveBuffer: return setsockopt(S(s), SOL_SOCKET, SO_RCVBUF, p, sizeof v) == 0;
    case Option::MulticastInterface: {
      in_addr a{};
      a.s_addr = htonl(value);
      return setsockopt(S(s), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&a), sizeof a) == 0;
    }
    case Option::MulticastTtl: return setsockopt(S(s), IPPROTO_IP, IP_MULTICAST_TTL, p, sizeof v) == 0;
    case Option::MulticastLoop: return setsockopt(S(s), IPPROTO_IP, IP_MULTICAST_LOOP, p, sizeof v) == 0;
    case Option::QuickAck: {
      // An acknowledgement for every segment; it stays set (Windows 8 and later).
      DWORD bytes = 0;
      return WSAIoctl(S(s), SIO_TCP_SET_ACK_FREQUENCY, &v, sizeof v, nullptr, 0, &bytes, nullptr, nullptr) == 0;
    }
  }
  return false;
}

void RenewQuickAck(Handle) {}

bool Membership(Handle s, bool join, uint32_t group, uint32_t interfaceAddress) {
  ip_mreq m{};
  m.imr_multiaddr.s_addr = htonl(group);
  m.imr_interface.s_addr = htonl(interfaceAddress);
  return setsockopt(S(s), IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                    reinterpret_cast<const char*>(&m), sizeof m) == 0;
}

int SendTo(Handle s, const void* data, size_t len, uint32_t address, uint16_t port) {
  sockaddr_in a = ToSockaddr(address, port);
  int n = sendto(S(s), static_cast<const char*>(data), static_cast<int>(len), 0, reinterpret_cast<sockaddr*>(&a),
                 sizeof a);
  if (n == SOCKET_ERROR) return WouldBlock() ? kSockWouldBlock : kSockError;
  return n;
}

int RecvFrom(Handle s, void* buf, size_t cap, SockAddr* from) {
  sockaddr_in a{};
  int alen = sizeof a;
  int n = recvfrom(S(s), static_cast<char*>(buf), static_cast<int>(cap), 0, reinterpret_cast<sockaddr*>(&a), &alen);
  if (n == SOCKET_ERROR) {
    int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK) return kSockWouldBlock;
    if (e != WSAEMSGSIZE) return kSockError;
    n = -1;  // the datagram was longer than the buffer; the sender is known
  }
  if (from) *from = FromSockaddr(a);
  return n < 0 ? kSockTruncated : n;
}

int Send(Handle s, const void* data, size_t len) {
  int n = send(S(s), static_cast<const char*>(data), static_cast<int>(len), 0);
  if (n == SOCKET_ERROR) return WouldBlock() ? kSockWouldBlock : kSockError;
  return n;
}

int Recv(Handle s, void* buf, size_t cap) {
  int n = recv(S(s), static_cast<char*>(buf), static_cast<int>(cap), 0);
  if (n == SOCKET_ERROR) return WouldBlock() ? kSockWouldBlock : kSockError;
  return n;
}

int ConnectStart(Handle s, uint32_t address, uint16_t port) {
  sockaddr_in a = ToSockaddr(address, port);
  if (connect(S(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return kSockOk;
  return WouldBlock() ? kSockWouldBlock : kSockError;
}

bool ConnectSucceeded(Handle s) {
  int err = 0;
  int elen = sizeof err;
  return getsockopt(S(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &elen) == 0 && err == 0;
}

Handle Accept(Handle s, int* status) {
  SOCKET c = accept(S(s), nullptr, nullptr);
  if (c == INVALID_SOCKET) {
    *status = WouldBlock() ? kSockWouldBlock : kSockError;
    return kNoSocket;
  }
  return Made(c);
}

bool LocalAddress(Handle s, SockAddr* out) {
  sockaddr_in a{};
  int alen = sizeof a;
  if (getsockname(S(s), reinterpret_cast<sockaddr*>(&a), &alen) != 0) return false;
  *out = FromSockaddr(a);
  return true;
}

// The socket's network events are selected on its event; a readiness that
// came before the selection is seen by the check that follows it, and one
// that comes later sets the event, so no readiness is missed.
int WaitReady(Handle s, bool wantRead, bool wantWrite, Event& netEvent, const WaitObject& stop, uint32_t timeoutMs,
              bool* readable, bool* writable) {
  *readable = *writable = false;
  if (!netEvent.valid() && !netEvent.Create(false, false)) return kSockError;
  long mask = FD_CLOSE | (wantRead ? (FD_READ | FD_ACCEPT) : 0) | (wantWrite ? (FD_WRITE | FD_CONNECT) : 0);
  if (WSAEventSelect(S(s), H(netEvent), mask) != 0) return kSockError;
  HANDLE hs[2] = {H(netEvent), reinterpret_cast<HANDLE>(stop.native)};
  DWORD count = stop.valid() ? 2 : 1;
  const uint32_t start = TickCount();
  for (;;) {
    int now = ReadyNow(S(s), wantRead, wantWrite, readable, writable);
    if (now != 0) return now > 0 ? kSockOk : kSockError;
    if (stop.valid() && WaitForSingleObject(hs[1], 0) == WAIT_OBJECT_0) return kSockStopped;
    DWORD left = INFINITE;
    if (timeoutMs != kInfinite) {
      uint32_t spent = TicksSince(start);
      if (spent >= timeoutMs) return kSockTimeout;
      left = timeoutMs - spent;
    }
    DWORD r = WaitForMultipleObjects(count, hs, FALSE, left);
    if (r == WAIT_TIMEOUT) return kSockTimeout;
    if (r == WAIT_OBJECT_0 + 1) return kSockStopped;
    if (r != WAIT_OBJECT_0) return kSockError;
    WSANETWORKEVENTS ne{};
    WSAEnumNetworkEvents(S(s), H(netEvent), &ne);  // resets the event; the check above decides
  }
}

int Wait(Handle s, bool forWrite, Event& netEvent, const WaitObject& stop, uint32_t timeoutMs) {
  bool readable, writable;
  return WaitReady(s, !forWrite, forWrite, netEvent, stop, timeoutMs, &readable, &writable);
}

int WaitEither(Handle s, bool wantWrite, Event& netEvent, const WaitObject& stop, uint32_t timeoutMs, bool* readable,
               bool* writable) {
  return WaitReady(s, true, wantWrite, netEvent, stop, timeoutMs, readable, writable);
}

bool SelectRead(Handle s, Event& netEvent) {
  if (!netEvent.valid() && !netEvent.Create(false, false)) return false;
  return WSAEventSelect(S(s), H(netEvent), FD_READ) == 0;
}

WaitObject Readable(Handle, const Event& netEvent) {
  WaitObject o = netEvent.object();
  o.kind = kKindSocket;
  return o;
}

bool PollReadable(Handle s, const Event& netEvent) {
  if (netEvent.valid()) {
    WSANETWORKEVENTS ne{};
    if (WSAEnumNetworkEvents(S(s), H(netEvent), &ne) != 0) return false;
    return (ne.lNetworkEvents & FD_READ) && ne.iErrorCode[FD_READ_BIT] == 0;
  }
  bool readable, writable;
  return ReadyNow(S(s), true, false, &readable, &writable) == 1;
}

}  // namespace sys

}  // namespace qs::plat
