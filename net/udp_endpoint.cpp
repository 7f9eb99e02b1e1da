#include "net/udp_endpoint.h"

#include <atomic>

namespace qs::net {

namespace {
std::atomic<uint32_t> g_openFailures{0};
std::atomic<uint32_t> g_receiveErrors{0};

// Takes one injected fault, if any is left.
bool TakeFault(std::atomic<uint32_t>& left) {
  uint32_t n = left.load();
  while (n > 0)
    if (left.compare_exchange_weak(n, n - 1)) return true;
  return false;
}
}  // namespace

void InjectOpenFailures(uint32_t count) { g_openFailures.store(count); }
void InjectReceiveErrors(uint32_t count) { g_receiveErrors.store(count); }

bool Endpoint::Open(uint32_t address, uint16_t port) {
  Close();
  if (TakeFault(g_openFailures)) return false;
  if (!socket_.Open() || !socket_.Bind(address, port) || !socket_.SelectRead()) {
    socket_.Close();
    return false;
  }
  return true;
}

void Endpoint::Close() { socket_.Close(); }

int Endpoint::Receive(uint32_t timeoutMs, const plat::WaitObject* extra, size_t count) {
  if (count > kMaxExtraHandles) return kTooManyHandles;
  if (count && !extra) return kTooManyHandles;
  plat::WaitObject objs[kMaxExtraHandles + 1];
  for (size_t i = 0; i < count; ++i) objs[i] = extra[i];
  size_t n = count;
  const bool withSocket = socket_.is_open();
  if (withSocket) objs[n++] = socket_.readable();
  if (n == 0) {
    // Nothing to wait on: the time passes all the same.
    plat::SleepMs(timeoutMs == plat::kInfinite ? 0 : timeoutMs);
    lastWait_ = plat::kWaitTimeout;
    return 0;
  }
  const Deadline d = Deadline::FromNow(timeoutMs);
  for (;;) {
    uint32_t left = timeoutMs == plat::kInfinite ? plat::kInfinite : d.Remaining();
    uint32_t r = plat::WaitAny(objs, n, left);
    if (!withSocket || r != n - 1) {
      lastWait_ = r;
      return 0;
    }
    int len = socket_.RecvFrom(buffer_, sizeof buffer_, &sender_);
    // A readiness that vanished (another reader, a spurious wake) is no
    // datagram and no error: wait on for the time left.
    if (len == plat::kSockWouldBlock) {
      if (timeoutMs != plat::kInfinite && d.Expired()) {
        lastWait_ = plat::kWaitTimeout;
        return 0;
      }
      continue;
    }
    if (len == plat::kSockTruncated || len == 0) return kStrayDatagram;
    if (len < 0 || TakeFault(g_receiveErrors)) return kReceiveError;
    return len;
  }
}

int Endpoint::ReceiveWaiting() {
  int len = socket_.RecvFrom(buffer_, sizeof buffer_, &sender_);
  if (len == plat::kSockWouldBlock) return 0;
  if (len == plat::kSockTruncated || len == 0) return kStrayDatagram;
  if (len < 0 || TakeFault(g_receiveErrors)) return kReceiveError;
  return len;
}

bool Endpoint::Send(const void* data, size_t len) {
  return socket_.SendTo(data, len, destination_.address, destination_.port) == static_cast<int>(len);
}

}  // namespace qs::net
