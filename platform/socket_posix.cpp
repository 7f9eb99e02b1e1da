// The socket system calls on Linux.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "platform/poll_posix.h"
#include "platform/sockaddr_in.h"
#include "platform/socket.h"
#include "platform/socket_sys.h"
#include "platform/tick.h"
#include "platform/wait_kinds.h"

namespace qs::plat {

namespace {

int Fd(sys::Handle s) { return static_cast<int>(s); }

// Name of the interface that carries the address, or "" when none does.
std::string DeviceFor(uint32_t address) {
  std::string name;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return name;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if (ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr) == address) {
      name = i->ifa_name;
      break;
    }
  }
  freeifaddrs(list);
  return name;
}

bool Again() { return errno == EAGAIN || errno == EWOULDBLOCK; }

// Polls the socket for the events asked for, with the stop object beside it:
// kSockOk with the socket's returned events, kSockTimeout, kSockStopped or
// kSockError. An error or hang-up is returned as ready too.
int PollReady(sys::Handle s, short events, const WaitObject& stop, uint32_t timeoutMs, short* revents) {
  pollfd p[2] = {{Fd(s), events, 0}, {-1, POLLIN, 0}};
  nfds_t n = 1;
  if (stop.valid()) {
    p[1].fd = static_cast<int>(stop.native);
    n = 2;
  }
  const uint32_t start = TickCount();
  for (;;) {
    int r = PollUntil(p, n, start, timeoutMs);
    if (r < 0) return kSockError;
    if (r == 0) return kSockTimeout;
    if (n == 2 && (p[1].revents & POLLIN)) return kSockStopped;
    if (p[0].revents) {
      *revents = p[0].revents;
      return kSockOk;
    }
  }
}

}  // namespace

SocketsLibrary::SocketsLibrary() : ok_(true) {}
SocketsLibrary::~SocketsLibrary() = default;

namespace sys {

Handle OpenUdp() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
  return fd < 0 ? kNoSocket : fd;
}

Handle OpenTcp() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : fd;
}

void CloseSocket(Handle s, Event&) { close(Fd(s)); }

bool Bind(Handle s, uint32_t address, uint16_t port, bool datagram) {
  uint32_t bindTo = address;
  if (datagram && address != kAnyAddress && (address >> 24) != 127) {
    std::string dev = DeviceFor(address);
    if (dev.empty()) return false;  // not a local address, as the Windows bind refuses it
    if (setsockopt(Fd(s), SOL_SOCKET, SO_BINDTODEVICE, dev.c_str(), static_cast<socklen_t>(dev.size() + 1)) == 0)
      bindTo = kAnyAddress;  // wildcard on the device also receives its broadcasts and groups
  }
  sockaddr_in a = ToSockaddr(bindTo, port);
  return bind(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool Listen(Handle s, int backlog) { return listen(Fd(s), backlog) == 0; }

bool SetOption(Handle s, Option o, uint32_t value) {
  int v = static_cast<int>(value);
  switch (o) {
    case Option::Broadcast: return setsockopt(Fd(s), SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
    case Option::ReuseAddress: return setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0;
    case Option::ReceiveBuffer:
      // FORCE ignores the system-wide ceiling where the process may do so.
      return setsockopt(Fd(s), SOL_SOCKET, SO_RCVBUFFORCE, &v, sizeof v) == 0 ||
             setsockopt(Fd(s), SOL_SOCKET, SO_RCVBUF, &v, sizeof v) == 0;
    case Option::MulticastInterface: {
      in_addr a{htonl(value)};
      return setsockopt(Fd(s), IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) == 0;
    }
    case Option::MulticastTtl: return setsockopt(Fd(s), IPPROTO_IP, IP_MULTICAST_TTL, &v, sizeof v) == 0;
    case Option::MulticastLoop: return setsockopt(Fd(s), IPPROTO_IP, IP_MULTICAST_LOOP, &v, sizeof v) == 0;
    case Option::QuickAck: return setsockopt(Fd(s), IPPROTO_TCP, TCP_QUICKACK, &v, sizeof v) == 0;
  }
  return false;
}

void RenewQuickAck(Handle s) { SetOption(s, Option::QuickAck, 1); }

bool Membership(Handle s, bool join, uint32_t group, uint32_t interfaceAddress) {
  ip_mreq m{};
  m.imr_multiaddr.s_addr = htonl(group);
  m.imr_interface.s_addr = htonl(interfaceAddress);
  return setsockopt(Fd(s), IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &m, sizeof m) == 0;
}

int SendTo(Handle s, const void* data, size_t len, uint32_t address, uint16_t port) {
  sockaddr_in a = ToSockaddr(address, port);
  ssize_t n;
  do {
    n = sendto(Fd(s), data, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Again() ? kSockWouldBlock : kSockError;
  return static_cast<int>(n);
}

int RecvFrom(Handle s, void* buf, size_t cap, SockAddr* from) {
  sockaddr_in a{};
  socklen_t alen = sizeof a;
  ssize_t n;
  do {
    n = recvfrom(Fd(s), buf, cap, MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &alen);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Again() ? kSockWouldBlock : kSockError;
  if (from) *from = FromSockaddr(a);
  if (static_cast<size_t>(n) > cap) return kSockTruncated;  // as WSAEMSGSIZE
  return static_cast<int>(n);
}

int Send(Handle s, const void* data, size_t len) {
  ssize_t n;
  do {
    n = send(Fd(s), data, len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Again() ? kSockWouldBlock : kSockError;
  return static_cast<int>(n);
}

int Recv(Handle s, void* buf, size_t cap) {
  ssize_t n;
  do {
    n = recv(Fd(s), buf, cap, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Again() ? kSockWouldBlock : kSockError;
  return static_cast<int>(n);
}

int ConnectStart(Handle s, uint32_t address, uint16_t port) {
  sockaddr_in a = ToSockaddr(address, port);
  if (connect(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return kSockOk;
  return errno == EINPROGRESS ? kSockWouldBlock : kSockError;
}

bool ConnectSucceeded(Handle s) {
  int err = 0;
  socklen_t elen = sizeof err;
  return getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &elen) == 0 && err == 0;
}

Handle Accept(Handle s, int* status) {
  for (;;) {
    int fd = accept4(Fd(s), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) return fd;
    if (errno == EINTR) continue;
    *status = Again() ? kSockWouldBlock : kSockError;
    return kNoSocket;
  }
}

bool LocalAddress(Handle s, SockAddr* out) {
  sockaddr_in a{};
  socklen_t alen = sizeof a;
  if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&a), &alen) != 0) return false;
  *out = FromSockaddr(a);
  return true;
}

int Wait(Handle s, bool forWrite, Event&, const WaitObject& stop, uint32_t timeoutMs) {
  short revents = 0;
  return PollReady(s, static_cast<short>(forWrite ? POLLOUT : POLLIN), stop, timeoutMs, &revents);
}

int WaitEither(Handle s, bool wantWrite, Event&, const WaitObject& stop, uint32_t timeoutMs, bool* readable,
               bool* writable) {
  *readable = *writable = false;
  short revents = 0;
  int r = PollReady(s, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), stop, timeoutMs, &revents);
  if (r != kSockOk) return r;
  *readable = (revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
  *writable = (revents & POLLOUT) != 0;
  return kSockOk;
}

bool SelectRead(Handle, Event&) { return true; }

WaitObject Readable(Handle s, const Event&) {
  WaitObject o;
  o.native = s;
  o.kind = kKindSocket;
  return o;
}

bool PollReadable(Handle s, const Event&) {
  pollfd p{Fd(s), POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

}  // namespace sys

}  // namespace qs::plat
