// Millisecond tick count and sleeping. Time-outs are differences of ticks, so
// the 32-bit wrap-around is harmless as long as intervals stay below ~49 days.
#pragma once
#include <cstdint>

namespace qs::plat {

uint32_t TickCount();
void SleepMs(uint32_t ms);

// Milliseconds since `start`, wrap-safe.
inline uint32_t TicksSince(uint32_t start) { return TickCount() - start; }

}  // namespace qs::plat
