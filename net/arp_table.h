// The system's ARP cache as entries, and the address to offer a device known
// only by its MAC: the address the cache gives for that MAC inside the
// adapter's subnet (the first such line), or else a free address drawn in the
// subnet (free_address.h) avoiding every cached address.
#pragma once
#include <cstdint>
#include <vector>

#include "net/arp_text.h"
#include "net/free_address.h"

namespace qs::net {

// Empty when the cache cannot be read.
std::vector<ArpEntry> ReadArpTable();

enum class AddressSource { Cache, Drawn, None };

AddressSource AddressForMac(const std::vector<ArpEntry>& table, const uint8_t mac[6], uint32_t adapterAddress,
                            uint32_t mask, RandomFn random, void* context, uint32_t& out);

// Reads the cache and draws with the system's random source.
AddressSource AddressForMac(const uint8_t mac[6], uint32_t adapterAddress, uint32_t mask, uint32_t& out);

}  // namespace qs::net
