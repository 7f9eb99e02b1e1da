// Millisecond tick count and sleeping. Time-outs are differences of ticks, so
// the 32-bit wrap-around is harmless as long as intervals stay below ~49 days.
#pragma once
#include <cstdint>

namespace qs::plat {

uint32_t TickCount();
void SleepMs(uint32_t ms);

// Held by a thread that paces work in single milliseconds (the RAM-program
// stream): Windows wakes waiters on its default 15.6 ms timer otherwise, and
// a 5 ms grid would go out in bursts of three. Nothing to do elsewhere.
class FineTimerScope {
 public:
  FineTimerScope();
  ~FineTimerScope();
  FineTimerScope(const FineTimerScope&) = delete;
  FineTimerScope& operator=(const FineTimerScope&) = delete;

 private:
  bool raised_ = false;
};

// Milliseconds since `start`, wrap-safe.
inline uint32_t TicksSince(uint32_t start) { return TickCount() - start; }

}  // namespace qs::plat
