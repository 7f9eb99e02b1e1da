// The progress bar's percentage and the progress dialog's clock, without windows.
#pragma once
#include <cstdint>

namespace qs::app {

// Unsigned 32-bit throughout: the position is clamped to the bounds; a large
// range divides first so that nothing overflows; a zero divisor gives 0.
uint32_t ProgressPercent(uint32_t lower, uint32_t upper, uint32_t position);

// The filled width of the bar: width * (position - lower) / (upper - lower),
// truncated; 0 for an empty range.
int FilledWidth(int width, uint32_t lower, uint32_t upper, uint32_t position);

// Waiting for a device to be seen again, once a second until the limit.
class DeviceWait {
 public:
  DeviceWait(uint32_t limitMs, uint32_t startTick) : limit_(limitMs), start_(startTick) {}
  // One timer tick at `now`: true and the bar position while time remains,
  // false once the limit is reached.
  bool Tick(uint32_t now, uint32_t& position) const {
    uint32_t elapsed = now - start_;
    if (elapsed >= limit_) return false;
    position = elapsed;
    return true;
  }
  uint32_t limit() const { return limit_; }

 private:
  uint32_t limit_;
  uint32_t start_;
};

}  // namespace qs::app
