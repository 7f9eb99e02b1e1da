#include "platform/tick.h"

#include <windows.h>
#include <timeapi.h>

namespace qs::plat {

// GetTickCount moves in steps of the system timer (15.6 ms by default); the
// performance counter gives the same millisecond count at its own resolution.
uint32_t TickCount() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const int64_t n = c.QuadPart;
  return static_cast<uint32_t>(static_cast<uint64_t>(n / frequency) * 1000u +
                               static_cast<uint64_t>(n % frequency * 1000 / frequency));
}

void SleepMs(uint32_t ms) { Sleep(ms); }

FineTimerScope::FineTimerScope() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineTimerScope::~FineTimerScope() {
  if (raised_) timeEndPeriod(1);
}

}  // namespace qs::plat
