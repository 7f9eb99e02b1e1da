// The local wall-clock time, to the second.
#pragma once
#include <cstdint>

namespace qs::plat {

struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;  // 1..12
  uint16_t day = 0;    // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
};

LocalTime LocalTimeNow();

}  // namespace qs::plat
