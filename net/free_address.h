// Drawing an address nobody uses in a local subnet, for a device that has
// none yet. A candidate is (subnet AND mask) OR (NOT mask AND a random
// number); the subnet's all-zeros and all-ones host values, the adapter's own
// address and every address taken are never drawn. After kRandomDraws misses
// the remaining host values are walked from a random start, and the walk
// stops after taken + 3 values: among that many at least one would be free
// (two are the excluded host values). So the draw always ends, and it fails
// only when the subnet has no free host value (all taken, or a /31 or /32).
#pragma once
#include <cstdint>
#include <vector>

namespace qs::net {

constexpr int kRandomDraws = 32;

// A fresh random number for every call.
using RandomFn = uint32_t (*)(void* context);

// The system's source: the tick count XOR 32 random bits of a new UUID.
uint32_t SystemRandom(void* context);

// adapterAddress is the local adapter's own address (which also names the
// subnet with mask). false when no address is free.
bool DrawFreeAddress(uint32_t adapterAddress, uint32_t mask, const std::vector<uint32_t>& taken, RandomFn random,
                     void* context, uint32_t& out);

}  // namespace qs::net
