#include "devsim/udp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace qs::devsim {

UdpPort::~UdpPort() {
  if (fd_ >= 0) close(fd_);
}

bool UdpPort::Open(uint16_t port, std::string* error) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    *error = "socket: " + std::string(strerror(errno));
    return false;
  }
  int one = 1, big = 4 << 20;
  setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
  setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
  setsockopt(fd_, SOL_SOCKET, SO_SNDBUFFORCE, &big, sizeof big);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    *error = "bind UDP " + std::to_string(port) + ": " + strerror(errno);
    close(fd_);
    fd_ = -1;
    return false;
  }
  port_ = port;
  return true;
}

bool UdpPort::Receive(uint8_t* buf, size_t cap, Received* out) {
  alignas(cmsghdr) char ctl[256];
  sockaddr_in from{};
  iovec iov{buf, cap};
  msghdr m{};
  m.msg_name = &from;
  m.msg_namelen = sizeof from;
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  m.msg_control = ctl;
  m.msg_controllen = sizeof ctl;
  ssize_t r = recvmsg(fd_, &m, MSG_DONTWAIT);
  if (r < 0) return false;
  *out = Received();
  out->src = ntohl(from.sin_addr.s_addr);
  out->srcPort = ntohs(from.sin_port);
  out->len = static_cast<size_t>(r);
  out->truncated = (m.msg_flags & MSG_TRUNC) != 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo pi;
      std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
      out->ifindex = pi.ipi_ifindex;
      out->dst = ntohl(pi.ipi_addr.s_addr);
    }
  }
  return true;
}

bool UdpPort::Join(uint32_t group, int ifindex, std::string* error) {
  ip_mreqn m{};
  m.imr_multiaddr.s_addr = htonl(group);
  m.imr_ifindex = ifindex;
  if (setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0) {
    *error = "joining a multicast group: " + std::string(strerror(errno));
    return false;
  }
  return true;
}

bool UdpPort::Send(uint32_t srcIp, uint32_t dst, uint16_t dstPort, const uint8_t* data, size_t len, int ifindex) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(dstPort);
  to.sin_addr.s_addr = htonl(dst);
  iovec iov{const_cast<uint8_t*>(data), len};
  alignas(cmsghdr) char ctl[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr m{};
  m.msg_name = &to;
  m.msg_namelen = sizeof to;
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  if (srcIp != 0 || ifindex != 0) {
    m.msg_control = ctl;
    m.msg_controllen = sizeof ctl;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo pi{};
    pi.ipi_ifindex = ifindex;
    pi.ipi_spec_dst.s_addr = htonl(srcIp);
    std::memcpy(CMSG_DATA(c), &pi, sizeof pi);
  }
  ssize_t r = -1;
  for (int tries = 0; tries < 50; ++tries) {
    r = sendmsg(fd_, &m, 0);
    if (r >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS)) break;
    // a full send queue in a burst: give the receiver a moment
    pollfd p{fd_, POLLOUT, 0};
    poll(&p, 1, 2);
  }
  if (r < 0 && srcIp != 0 && errno == EINVAL) {
    // the address is not on this host (standalone use): let routing pick one
    if (ifindex == 0) {
      m.msg_control = nullptr;
      m.msg_controllen = 0;
    } else {
      in_pktinfo pi{};
      pi.ipi_ifindex = ifindex;
      std::memcpy(CMSG_DATA(CMSG_FIRSTHDR(&m)), &pi, sizeof pi);
    }
    r = sendmsg(fd_, &m, 0);
  }
  return r >= 0;
}

}  // namespace qs::devsim
