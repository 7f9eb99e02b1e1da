// Local IPv4 interfaces (up, not loopback) and subnet questions. Every
// broadcast goes out once per interface, from a socket bound to its address.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/netif.h"

namespace qs::net {

struct InterfaceEntry {
  uint32_t address = 0;  // host order
  uint32_t netmask = 0;  // host order
  uint8_t dhcp = 0;      // only filled when the list is built with the DHCP flag
};

// The system's query with a given room; replaceable so that tests can play a
// machine with many adapters.
using InterfaceQueryFn = plat::IfQuery (*)(size_t room, std::vector<plat::RawInterface>& out);

// Up and not loopback.
bool Qualifies(const plat::RawInterface& r);

// Queries with room for 1 record and doubles the room while the list does not
// fit. false when the query fails for any other reason (or grows absurdly).
bool QueryAllInterfaces(InterfaceQueryFn query, std::vector<plat::RawInterface>& out);

using VisitFn = void (*)(uint32_t address, uint32_t netmask, void* context);

// Calls fn for each qualifying interface, in the system's order. Returns how
// many were visited.
size_t VisitInterfaces(VisitFn fn, void* context, InterfaceQueryFn query = plat::QueryInterfaces);

// Built once on first use and then reused; a cursor hands out the entries.
class InterfaceList {
 public:
  explicit InterfaceList(bool withDhcp = false, InterfaceQueryFn query = plat::QueryInterfaces)
      : withDhcp_(withDhcp), query_(query) {}

  bool Build();  // no-op once built; false when the list cannot be built
  void Rewind() { cursor_ = 0; }
  bool Next(InterfaceEntry& out);
  const std::vector<InterfaceEntry>& entries() const { return entries_; }

 private:
  bool withDhcp_;
  InterfaceQueryFn query_;
  bool built_ = false;
  std::vector<InterfaceEntry> entries_;
  size_t cursor_ = 0;
};

// Some local interface has (address AND netmask) == (its address AND netmask).
// Builds a fresh list on every call.
bool IsLocalAddress(uint32_t address, InterfaceQueryFn query = plat::QueryInterfaces);

// Netmask of the first entry of the list in the same subnet as the address, or 0.
uint32_t NetmaskFor(InterfaceList& list, uint32_t address);

// (address AND netmask) OR (NOT netmask)
inline uint32_t DirectedBroadcast(uint32_t address, uint32_t netmask) { return (address & netmask) | ~netmask; }

}  // namespace qs::net
