// The streamer's clock, apart from sockets and threads: one datagram every
// 5 ms on a fixed grid, round and round a cycle of datagrams, until the
// streamer's lifetime has passed since its start. The streaming thread asks
// what to do at the tick count it has just read, then waits (on its stop
// event), or sends the datagram at position() and calls Sent().
//
// The grid catches up on late sends, but only for kMaxLagMs: a thread that
// was held up longer starts a new grid at the current tick instead of sending
// everything it missed in one burst.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::fw {

class StreamPacer {
 public:
  static constexpr uint32_t kIntervalMs = 5;
  static constexpr uint32_t kForever = 0xFFFFFFFF;  // a lifetime that never ends
  static constexpr uint32_t kMaxLagMs = 100;

  StreamPacer(uint32_t startTick, uint32_t lifetimeMs)
      : start_(startTick), lifetime_(lifetimeMs), clock_(startTick) {}

  enum class Kind { Wait, Send, Expired };
  struct Decision {
    Kind kind;
    uint32_t waitMs;  // Wait: how long (1 to 5 ms)
  };
  Decision Next(uint32_t now);

  // A holder that joins at `now` with its own lifetime: the stream runs at
  // least that long from now (also after the lifetime had passed).
  void Renew(uint32_t now, uint32_t lifetimeMs);

  // The cycle was (re)built with length datagrams; the position is kept when
  // it still lies inside the cycle.
  void SetCycleLength(size_t length);
  size_t position() const { return position_; }
  // The datagram at position() went out (or failed to: a failing send counts).
  void Sent();

 private:
  uint32_t start_;
  uint32_t lifetime_;
  uint32_t clock_;  // tick at which the next send is due
  size_t length_ = 0;
  size_t position_ = 0;
};

}  // namespace qs::fw
