// The system's list of IPv4 interfaces, as one query with a given room.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::plat {

constexpr uint32_t kIfUp = 0x1;        // IFF_UP
constexpr uint32_t kIfBroadcast = 0x2;  // IFF_BROADCAST
constexpr uint32_t kIfLoopback = 0x4;   // IFF_LOOPBACK

struct RawInterface {
  uint32_t flags = 0;  // kIf* bits
  uint32_t address = 0;  // host order
  uint32_t broadcast = 0;
  uint32_t netmask = 0;
};

enum class IfQuery { Ok, TooSmall, Failed };

// Asks for the interface list with room for `room` records (the system's own
// query on Windows); TooSmall when the list does not fit. Records are in the
// system's order, which is stable between calls.
IfQuery QueryInterfaces(size_t room, std::vector<RawInterface>& out);

// 1 when the adapter owning the address gets it by DHCP, else 0 (also when unknown).
uint8_t DhcpFlagForAddress(uint32_t address);

}  // namespace qs::plat
