#include "net/free_address.h"

#include <algorithm>

#include "platform/tick.h"
#include "platform/uuid.h"
#include "runtime/bytes.h"

namespace qs::net {

uint32_t SystemRandom(void*) {
  uint8_t u[16] = {};
  plat::NewUuid(u);
  return plat::TickCount() ^ bytes::GetLe32(u);
}

bool DrawFreeAddress(uint32_t adapterAddress, uint32_t mask, const std::vector<uint32_t>& taken, RandomFn random,
                     void* context, uint32_t& out) {
  const uint32_t net = adapterAddress & mask;
  const uint32_t hosts = ~mask;
  if (hosts < 2) return false;  // no host value besides all-zeros and all-ones
  std::vector<uint32_t> used;
  used.reserve(taken.size() + 1);
  for (uint32_t a : taken)
    if ((a & mask) == net) used.push_back(a);
  used.push_back(adapterAddress);
  std::sort(used.begin(), used.end());
  auto usable = [&](uint32_t h) {
    return h != 0 && h != hosts && !std::binary_search(used.begin(), used.end(), net | h);
  };
  for (int i = 0; i < kRandomDraws; ++i) {
    const uint32_t h = random(context) & hosts;
    if (usable(h)) {
      out = net | h;
      return true;
    }
  }
  // Host values form the range 0..hosts; walk it from a random start.
  const uint64_t span = uint64_t{hosts} + 1;
  const uint64_t steps = std::min<uint64_t>(span, uint64_t{used.size()} + 3);
  uint32_t h = random(context) & hosts;
  for (uint64_t i = 0; i < steps; ++i, h = (h + 1) & hosts) {
    if (usable(h)) {
      out = net | h;
      return true;
    }
  }
  return false;
}

}  // namespace qs::net
