#include "app/logic/progress.h"

namespace qs::app {

uint32_t ProgressPercent(uint32_t lower, uint32_t upper, uint32_t position) {
  uint32_t lo = lower < upper ? lower : upper;
  uint32_t range = upper - lo;
  if (position < lower) position = lower;
  if (position > upper) position = upper;
  uint32_t offset = position - lo;
  if (range < 42949672u) {
    if (range == 0) return 0;
    return offset * 100u / range;
  }
  uint32_t divisor = range / 100u;
  if (divisor == 0) return 0;
  return offset / divisor;
}

int FilledWidth(int width, uint32_t lower, uint32_t upper, uint32_t position) {
  if (upper <= lower || width <= 0) return 0;
  if (position < lower) position = lower;
  if (position > upper) position = upper;
  double f = static_cast<double>(width) * static_cast<double>(position - lower) / static_cast<double>(upper - lower);
  return static_cast<int>(f);
}

}  // namespace qs::app
