#include "net/arp_table.h"

#include <cstring>
#include <string>

#include "platform/arp_cache.h"

namespace qs::net {

std::vector<ArpEntry> ReadArpTable() {
  std::string text;
  plat::ArpTextFormat format;
  if (!plat::ReadArpCacheText(text, format)) return {};
  return format == plat::ArpTextFormat::KernelTable ? ParseKernelArpTable(text) : ParseArpCommandOutput(text);
}

AddressSource AddressForMac(const std::vector<ArpEntry>& table, const uint8_t mac[6], uint32_t adapterAddress,
                            uint32_t mask, RandomFn random, void* context, uint32_t& out) {
  const uint32_t net = adapterAddress & mask;
  std::vector<uint32_t> taken;
  taken.reserve(table.size());
  for (const ArpEntry& e : table) {
    if ((e.address & mask) != net) continue;
    if (std::memcmp(e.mac, mac, 6) == 0) {
      out = e.address;
      return AddressSource::Cache;
    }
    taken.push_back(e.address);
  }
  return DrawFreeAddress(adapterAddress, mask, taken, random, context, out) ? AddressSource::Drawn
                                                                           : AddressSource::None;
}

AddressSource AddressForMac(const uint8_t mac[6], uint32_t adapterAddress, uint32_t mask, uint32_t& out) {
  return AddressForMac(ReadArpTable(), mac, adapterAddress, mask, SystemRandom, nullptr, out);
}

}  // namespace qs::net
