#include "net/adapters.h"

namespace qs::net {

namespace {
// Far beyond any real machine; stops the doubling if a query keeps asking for more.
constexpr size_t kMaxRoom = 1u << 16;
}  // namespace

bool Qualifies(const plat::RawInterface& r) { return (r.flags & (plat::kIfUp | plat::kIfLoopback)) == plat::kIfUp; }

bool QueryAllInterfaces(InterfaceQueryFn query, std::vector<plat::RawInterface>& out) {
  out.clear();
  for (size_t room = 1; room <= kMaxRoom; room *= 2) {
    switch (query(room, out)) {
      case plat::IfQuery::Ok:
        return true;
      case plat::IfQuery::TooSmall:
        continue;
      case plat::IfQuery::Failed:
        out.clear();
        return false;
    }
  }
  out.clear();
  return false;
}

size_t VisitInterfaces(VisitFn fn, void* context, InterfaceQueryFn query) {
  std::vector<plat::RawInterface> raw;
  if (!QueryAllInterfaces(query, raw)) return 0;
  size_t n = 0;
  for (const plat::RawInterface& r : raw) {
    if (!Qualifies(r)) continue;
    fn(r.address, r.netmask, context);
    ++n;
  }
  return n;
}

bool InterfaceList::Build() {
  if (built_) return true;
  std::vector<plat::RawInterface> raw;
  if (!QueryAllInterfaces(query_, raw)) return false;
  entries_.clear();
  for (const plat::RawInterface& r : raw) {
    if (!Qualifies(r)) continue;
    InterfaceEntry e;
    e.address = r.address;
    e.netmask = r.netmask;
    if (withDhcp_) e.dhcp = plat::DhcpFlagForAddress(r.address);
    entries_.push_back(e);
  }
  built_ = true;
  cursor_ = 0;
  return true;
}

bool InterfaceList::Next(InterfaceEntry& out) {
  if (!Build() || cursor_ >= entries_.size()) return false;
  out = entries_[cursor_++];
  return true;
}

bool IsLocalAddress(uint32_t address, InterfaceQueryFn query) {
  InterfaceList list(false, query);
  InterfaceEntry e;
  while (list.Next(e))
    if ((e.address & e.netmask) == (address & e.netmask)) return true;
  return false;
}

uint32_t NetmaskFor(InterfaceList& list, uint32_t address) {
  list.Rewind();
  InterfaceEntry e;
  while (list.Next(e))
    if ((e.address & e.netmask) == (address & e.netmask)) return e.netmask;
  return 0;
}

}  // namespace qs::net
