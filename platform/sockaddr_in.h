// IPv4 socket addresses to and from the host-order address and port of
// socket.h; the system-call files of both builds convert through these.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <cstdint>

#include "platform/socket.h"

namespace qs::plat {

inline sockaddr_in ToSockaddr(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

inline SockAddr FromSockaddr(const sockaddr_in& a) {
  SockAddr s;
  s.address = ntohl(a.sin_addr.s_addr);
  s.port = ntohs(a.sin_port);
  return s;
}

}  // namespace qs::plat
