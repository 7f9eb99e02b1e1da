#include "firmware/stream_pacer.h"

namespace qs::fw {

StreamPacer::Decision StreamPacer::Next(uint32_t now) {
  if (lifetime_ != kForever && now - start_ >= lifetime_) return {Kind::Expired, 0};
  const int32_t ahead = static_cast<int32_t>(clock_ - now);
  if (length_ == 0) {
    // nothing to send: keep the grid at the present so that a later cycle
    // does not start with a burst
    clock_ = now + kIntervalMs;
    return {Kind::Wait, kIntervalMs};
  }
  if (ahead > 0) return {Kind::Wait, static_cast<uint32_t>(ahead) < kIntervalMs ? static_cast<uint32_t>(ahead) : kIntervalMs};
  if (static_cast<uint32_t>(-static_cast<int64_t>(ahead)) > kMaxLagMs) clock_ = now;
  return {Kind::Send, 0};
}

void StreamPacer::Renew(uint32_t now, uint32_t lifetimeMs) {
  if (lifetime_ == kForever) return;
  if (lifetimeMs == kForever) {
    lifetime_ = kForever;
    return;
  }
  const uint64_t wanted = static_cast<uint64_t>(now - start_) + lifetimeMs;
  if (wanted > lifetime_) lifetime_ = wanted < kForever ? static_cast<uint32_t>(wanted) : kForever - 1;
}

void StreamPacer::SetCycleLength(size_t length) {
  length_ = length;
  if (position_ >= length_) position_ = 0;
}

void StreamPacer::Sent() {
  clock_ += kIntervalMs;
  if (length_ == 0) return;
  position_ = position_ + 1 < length_ ? position_ + 1 : 0;
}

}  // namespace qs::fw
