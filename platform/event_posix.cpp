#include "platform/event.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/poll_posix.h"
#include "platform/tick.h"
#include "platform/wait_kinds.h"

namespace qs::plat {

bool Event::Create(bool manualReset, bool initiallySet) {
  Close();
  int fd = eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return false;
  obj_.native = fd;
  obj_.kind = manualReset ? kKindManualEvent : kKindAutoEvent;
  return true;
}

void Event::Close() {
  if (obj_.native >= 0) close(static_cast<int>(obj_.native));
  obj_ = WaitObject{};
}

void Event::Set() const {
  if (obj_.native < 0) return;
  if (obj_.kind == kKindManualEvent && IsSet()) return;  // keep the counter at 1
  uint64_t one = 1;
  ssize_t r = write(static_cast<int>(obj_.native), &one, sizeof one);
  (void)r;
}

void Event::Reset() const {
  if (obj_.native < 0) return;
  uint64_t v;
  ssize_t r = read(static_cast<int>(obj_.native), &v, sizeof v);
  (void)r;
}

bool Event::IsSet() const {
  if (obj_.native < 0) return false;
  pollfd p{static_cast<int>(obj_.native), POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool Event::Wait(uint32_t ms) const { return WaitAny(&obj_, 1, ms) == 0; }

uint32_t WaitAny(const WaitObject* objects, size_t count, uint32_t timeoutMs) {
  if (count == 0 || count > kMaxWaitObjects) return kWaitFailed;
  pollfd fds[kMaxWaitObjects];
  for (size_t i = 0; i < count; ++i) {
    if (objects[i].native < 0) return kWaitFailed;
    fds[i] = pollfd{static_cast<int>(objects[i].native), POLLIN, 0};
  }
  const uint32_t start = TickCount();
  for (;;) {
    int n = PollUntil(fds, static_cast<nfds_t>(count), start, timeoutMs);
    if (n < 0) return kWaitFailed;
    if (n == 0) return kWaitTimeout;
    for (size_t i = 0; i < count; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP))) continue;
      if (objects[i].kind == kKindAutoEvent) {
        // Another waiter may have taken it first; then keep waiting.
        uint64_t v;
        if (read(fds[i].fd, &v, sizeof v) != sizeof v) continue;
      }
      return static_cast<uint32_t>(i);
    }
    if (timeoutMs != kInfinite && TicksSince(start) >= timeoutMs) return kWaitTimeout;
  }
}

}  // namespace qs::plat
