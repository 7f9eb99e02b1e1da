// The local adapter a device was found on, as the firmware jobs key their
// shared services by it (one streamer, one boot-message watcher and one
// recovery listener per adapter): its IPv4 address and mask (host order) and
// its DHCP flag word.
#pragma once
#include <cstdint>
#include <tuple>

namespace qs::net {

struct AdapterRecord {
  uint32_t address = 0;
  uint32_t mask = 0;
  uint32_t dhcp = 0;

  bool operator<(const AdapterRecord& o) const {
    return std::tie(address, mask, dhcp) < std::tie(o.address, o.mask, o.dhcp);
  }
  bool operator==(const AdapterRecord& o) const {
    return address == o.address && mask == o.mask && dhcp == o.dhcp;
  }
};

}  // namespace qs::net
