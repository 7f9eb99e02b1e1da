// One UDP port of the device side: a wildcard socket that tells, for every
// datagram, where it was sent to and through which interface it came, and
// that sends from any device address (the address need not be bound).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qs::devsim {

struct Received {
  uint32_t src = 0;  // host order
  uint16_t srcPort = 0;
  uint32_t dst = 0;  // the destination address the sender used
  int ifindex = 0;   // interface it came in through, 0 when unknown
  size_t len = 0;    // bytes in the buffer
  bool truncated = false;  // longer than the buffer
};

class UdpPort {
 public:
  UdpPort() = default;
  ~UdpPort();
  UdpPort(const UdpPort&) = delete;
  UdpPort& operator=(const UdpPort&) = delete;

  // Binds 0.0.0.0:port, non-blocking, broadcast allowed, large buffers (a
  // thousand devices answer one scan in one burst).
  bool Open(uint16_t port, std::string* error);
  // One datagram, without waiting; false when none is queued.
  bool Receive(uint8_t* buf, size_t cap, Received* out);
  // Sends from the device address from (0: the routing's choice; also the
  // fallback when from is not an address of this host), out through the
  // interface ifindex when it is not 0 (a broadcast on one bridge). True when sent.
  bool Send(uint32_t from, uint32_t dst, uint16_t dstPort, const uint8_t* data, size_t len, int ifindex = 0);
  // Receives the multicast group (host order) arriving through the interface.
  bool Join(uint32_t group, int ifindex, std::string* error);

  int fd() const { return fd_; }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace qs::devsim
