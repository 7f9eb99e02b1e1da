#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/socket.h"
#include "platform/tick.h"
#include "platform/wait_kinds.h"

namespace qs::plat {

namespace {

int Fd(intptr_t s) { return static_cast<int>(s); }

sockaddr_in Make(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

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

// Remaining time of a wait, for poll.
int PollWait(uint32_t start, uint32_t timeoutMs) {
  if (timeoutMs == kInfinite) return -1;
  uint32_t spent = TicksSince(start);
  return spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
}

// 1 ready, 0 time-out, -1 error
int WaitFd(int fd, short events, uint32_t start, uint32_t timeoutMs) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, PollWait(start, timeoutMs));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    return n == 0 ? 0 : 1;
  }
}

}  // namespace

SocketsLibrary::SocketsLibrary() : ok_(true) {}
SocketsLibrary::~SocketsLibrary() = default;

void FormatAddress(uint32_t a, char out[16]) {
  std::snprintf(out, 16, "%u.%u.%u.%u", (a >> 24) & 255u, (a >> 16) & 255u, (a >> 8) & 255u, a & 255u);
}

// ---- UDP ----

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& o) noexcept : s_(o.s_) { o.s_ = -1; }

UdpSocket& UdpSocket::operator=(UdpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    s_ = o.s_;
    o.s_ = -1;
  }
  return *this;
}

bool UdpSocket::Open() {
  Close();
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return false;
  s_ = fd;
  return true;
}

bool UdpSocket::is_open() const { return s_ != -1; }

void UdpSocket::Close() {
  if (s_ != -1) close(Fd(s_));
  s_ = -1;
}

bool UdpSocket::Bind(uint32_t address, uint16_t port) {
  if (s_ == -1) return false;
  uint32_t bindTo = address;
  if (address != kAnyAddress && (address >> 24) != 127) {
    std::string dev = DeviceFor(address);
    if (dev.empty()) return false;  // not a local address, as the Windows bind refuses it
    if (setsockopt(Fd(s_), SOL_SOCKET, SO_BINDTODEVICE, dev.c_str(), static_cast<socklen_t>(dev.size() + 1)) == 0)
      bindTo = kAnyAddress;  // wildcard on the device also receives its broadcasts
  }
  sockaddr_in a = Make(bindTo, port);
  return bind(Fd(s_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool UdpSocket::SetBroadcast(bool on) {
  int v = on ? 1 : 0;
  return s_ != -1 && setsockopt(Fd(s_), SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
}

bool UdpSocket::SetReceiveBuffer(int bytes) {
  if (s_ == -1) return false;
  // FORCE ignores the system-wide ceiling where the process may do so.
  if (setsockopt(Fd(s_), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return true;
  return setsockopt(Fd(s_), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool UdpSocket::SelectRead() { return s_ != -1; }

WaitObject UdpSocket::readable() const {
  WaitObject o;
  o.native = s_;
  o.kind = kKindSocket;
  return o;
}

bool UdpSocket::PollReadable() {
  if (s_ == -1) return false;
  pollfd p{Fd(s_), POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

int UdpSocket::SendTo(const void* data, size_t len, uint32_t address, uint16_t port) {
  if (s_ == -1) return kSockError;
  sockaddr_in a = Make(address, port);
  ssize_t n = sendto(Fd(s_), data, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return n < 0 ? kSockError : static_cast<int>(n);
}

int UdpSocket::RecvFrom(void* buf, size_t cap, SockAddr* from) {
  if (s_ == -1) return kSockError;
  sockaddr_in a{};
  socklen_t alen = sizeof a;
  ssize_t n;
  do {
    n = recvfrom(Fd(s_), buf, cap, MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &alen);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? kSockWouldBlock : kSockError;
  if (from) {
    from->address = ntohl(a.sin_addr.s_addr);
    from->port = ntohs(a.sin_port);
  }
  if (static_cast<size_t>(n) > cap) return kSockError;  // truncated, as WSAEMSGSIZE
  return static_cast<int>(n);
}

int UdpSocket::RecvFromTimeout(void* buf, size_t cap, SockAddr* from, uint32_t timeoutMs) {
  const uint32_t start = TickCount();
  for (;;) {
    int w = WaitFd(Fd(s_), POLLIN, start, timeoutMs);
    if (w < 0) return kSockError;
    if (w == 0) return kSockTimeout;
    int n = RecvFrom(buf, cap, from);
    if (n != kSockWouldBlock) return n;
  }
}

SockAddr UdpSocket::LocalAddress() const {
  SockAddr r;
  sockaddr_in a{};
  socklen_t alen = sizeof a;
  if (s_ != -1 && getsockname(Fd(s_), reinterpret_cast<sockaddr*>(&a), &alen) == 0) {
    r.address = ntohl(a.sin_addr.s_addr);
    r.port = ntohs(a.sin_port);
  }
  return r;
}

// ---- TCP ----

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& o) noexcept : s_(o.s_) { o.s_ = -1; }

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    s_ = o.s_;
    o.s_ = -1;
  }
  return *this;
}

void TcpSocket::Close() {
  if (s_ != -1) close(Fd(s_));
  s_ = -1;
}

bool TcpSocket::Connect(uint32_t address, uint16_t port, uint32_t timeoutMs, uint32_t localAddress) {
  Close();
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) return false;
  s_ = fd;
  if (localAddress != kAnyAddress) {
    sockaddr_in l = Make(localAddress, 0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&l), sizeof l) != 0) {
      Close();
      return false;
    }
  }
  sockaddr_in a = Make(address, port);
  const uint32_t start = TickCount();
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (errno != EINPROGRESS || WaitFd(fd, POLLOUT, start, timeoutMs) != 1) {
      Close();
      return false;
    }
    int err = 0;
    socklen_t elen = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &elen) != 0 || err != 0) {
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
    if (s_ == -1) return false;
    ssize_t n = send(Fd(s_), p, len, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      len -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFd(Fd(s_), POLLOUT, start, timeoutMs) != 1) return false;
      continue;
    }
    return false;
  }
  return true;
}

int TcpSocket::Recv(void* buf, size_t cap, uint32_t timeoutMs) {
  if (s_ == -1) return kSockError;
  const uint32_t start = TickCount();
  for (;;) {
    ssize_t n = recv(Fd(s_), buf, cap, 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return kSockError;
    int w = WaitFd(Fd(s_), POLLIN, start, timeoutMs);
    if (w < 0) return kSockError;
    if (w == 0) return kSockTimeout;
  }
}

bool TcpSocket::RecvAll(void* buf, size_t len, uint32_t timeoutMs) {
  auto* p = static_cast<char*>(buf);
  const uint32_t start = TickCount();
  while (len) {
    uint32_t spent = TicksSince(start);
    if (timeoutMs != kInfinite && spent >= timeoutMs) return false;
    int n = Recv(p, len, timeoutMs == kInfinite ? kInfinite : timeoutMs - spent);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool TcpSocket::Listen(uint32_t address, uint16_t port, int backlog) {
  Close();
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) return false;
  s_ = fd;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Make(address, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    Close();
    return false;
  }
  return true;
}

bool TcpSocket::Accept(TcpSocket& out, uint32_t timeoutMs) {
  if (s_ == -1) return false;
  const uint32_t start = TickCount();
  for (;;) {
    int fd = accept4(Fd(s_), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      out.Close();
      out.s_ = fd;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (WaitFd(Fd(s_), POLLIN, start, timeoutMs) != 1) return false;
  }
}

SockAddr TcpSocket::LocalAddress() const {
  SockAddr r;
  sockaddr_in a{};
  socklen_t alen = sizeof a;
  if (s_ != -1 && getsockname(Fd(s_), reinterpret_cast<sockaddr*>(&a), &alen) == 0) {
    r.address = ntohl(a.sin_addr.s_addr);
    r.port = ntohs(a.sin_port);
  }
  return r;
}

}  // namespace qs::plat
