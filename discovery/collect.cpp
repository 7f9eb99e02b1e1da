#include "discovery/collect.h"

#include <algorithm>

#include "discovery/text_reply.h"
#include "platform/event.h"
#include "platform/tick.h"

namespace qs::disc {

namespace {

struct ProbeContext {
  std::vector<uint8_t> discover;
  std::vector<plat::UdpSocket>* sockets;
  int receiveBuffer;
  size_t kept = 0;
};

void ProbeOne(uint32_t address, uint32_t netmask, void* ctx) {
  auto* c = static_cast<ProbeContext*>(ctx);
  plat::UdpSocket s;
  if (!s.Open() || !s.Bind(address, 0) || !s.SetBroadcast(true)) return;
  // Best effort, and before the probes go out: the default holds only a few
  // hundred replies.
  if (c->receiveBuffer > 0) s.SetReceiveBuffer(c->receiveBuffer);
  // Send errors are ignored: the collection simply hears nothing.
  s.SendTo(kScanProbe, kScanProbeSize, net::DirectedBroadcast(address, netmask), kCommandPort);
  s.SendTo(c->discover.data(), c->discover.size(), plat::kBroadcastAddress, kDiscoverPort);
  c->sockets->push_back(std::move(s));
  ++c->kept;
}

}  // namespace

size_t SendScanProbes(const uint8_t nonce[kNonceSize], std::vector<plat::UdpSocket>& sockets,
                      net::InterfaceQueryFn query, int receiveBuffer) {
  ProbeContext c;
  c.receiveBuffer = receiveBuffer;
  c.discover = BuildRequest(nonce, kCmdDiscover, nullptr, 0);
  c.sockets = &sockets;
  if (c.discover.empty()) return 0;
  net::VisitInterfaces(ProbeOne, &c, query);
  return c.kept;
}

ScanStats CollectReplies(std::vector<plat::UdpSocket>& sockets, DatagramFn fn, void* context,
                         const CollectLimits& limits) {
  ScanStats st;
  std::vector<plat::UdpSocket*> live;
  std::vector<plat::WaitObject> waits;
  for (plat::UdpSocket& s : sockets) {
    if (!s.SelectRead()) continue;
    live.push_back(&s);
    if (waits.size() < plat::kMaxWaitObjects) waits.push_back(s.readable());
  }
  st.interfaces = live.size();
  const uint32_t t0 = plat::TickCount();
  if (live.empty()) return st;
  // Sockets beyond what one wait can hold are only polled; short waits keep
  // them from being starved.
  const bool someUnwatched = waits.size() < live.size();
  uint8_t buf[kReceiveBuffer];
  for (;;) {
    bool activity = false;
    for (plat::UdpSocket* s : live) {
      if (!s->PollReadable()) continue;
      activity = true;
      int n = s->RecvFrom(buf, sizeof buf, nullptr);
      if (n > 0) {
        ++st.datagrams;
        fn(buf, static_cast<size_t>(n), context);
      } else if (n == plat::kSockError || n == plat::kSockTruncated) {
        ++st.errors;
      }
    }
    const uint32_t elapsed = plat::TicksSince(t0);
    if (elapsed >= limits.hardLimitMs) {
      st.hitHardLimit = true;
      break;
    }
    if (activity) continue;
    uint32_t timeout = elapsed < limits.windowMs ? limits.windowMs - elapsed : 1;
    timeout = std::min(timeout, limits.hardLimitMs - elapsed);
    if (someUnwatched) timeout = std::min<uint32_t>(timeout, 10);
    uint32_t r = plat::WaitAny(waits.data(), waits.size(), timeout);
    if (r == plat::kWaitFailed) break;
    if (r == plat::kWaitTimeout && !(someUnwatched && elapsed < limits.windowMs)) break;
  }
  st.elapsedMs = plat::TicksSince(t0);
  return st;
}

}  // namespace qs::disc
