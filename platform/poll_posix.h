// poll() with a time-out counted from a start tick and retried when a signal
// interrupts it; shared by the waits of events and sockets (Linux only).
#pragma once
#include <errno.h>
#include <poll.h>

#include <cstdint>

#include "platform/event.h"
#include "platform/tick.h"

namespace qs::plat {

// Ready descriptors, 0 when the time is over, -1 on failure.
inline int PollUntil(pollfd* fds, nfds_t count, uint32_t start, uint32_t timeoutMs) {
  for (;;) {
    int wait = -1;
    if (timeoutMs != kInfinite) {
      uint32_t spent = TicksSince(start);
      wait = spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
    }
    int n = poll(fds, count, wait);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

}  // namespace qs::plat
