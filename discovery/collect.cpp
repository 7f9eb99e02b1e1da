#include "discovery/collect.h"

#include <algorithm>

#include "discovery/text_reply.h"
#include "platform/event.h"
#include "platform/tick.h"

namespace qs::disc {

namespace {

// Sets up one interface's socket and sends both probes; false when the
// socket could not be set up (the interface is skipped).
bool ProbeOne(const std::vector<uint8_t>& discover, int receiveBuffer, InterfaceScan& scan,
              std::vector<plat::UdpSocket>& sockets) {
  const uint32_t address = scan.seen.address, netmask = scan.seen.netmask;
  plat::UdpSocket s;
  if (!s.Open() || !s.Bind(address, 0) || !s.SetBroadcast(true)) return false;
  // Best effort, and before the probes go out: the default holds only a few
  // hundred replies.
  if (receiveBuffer > 0) s.SetReceiveBuffer(receiveBuffer);
  scan.socket = true;
  // Send errors are ignored (the collection simply hears nothing), but counted.
  ++scan.textProbes;
  if (s.SendTo(kScanProbe, kScanProbeSize, net::DirectedBroadcast(address, netmask), kCommandPort) < 0)
    ++scan.sendFailures;
  ++scan.discoverRequests;
  if (s.SendTo(discover.data(), discover.size(), plat::kBroadcastAddress, kDiscoverPort) < 0) ++scan.sendFailures;
  sockets.push_back(std::move(s));
  return true;
}

void Tally(ReplyCounts& c, ReplyKind k) {
  switch (k) {
    case ReplyKind::FirstFamily: ++c.firstFamily; break;
    case ReplyKind::Kvxr: ++c.kvxr; break;
    case ReplyKind::Unlisted: ++c.unlisted; break;
    case ReplyKind::Invalid: ++c.invalid; break;
  }
}

}  // namespace

size_t SendScanProbes(const uint8_t nonce[kNonceSize], std::vector<plat::UdpSocket>& sockets,
                      net::InterfaceQueryFn query, int receiveBuffer, std::vector<InterfaceScan>* seen,
                      bool* queryFailed) {
  if (seen) seen->clear();
  if (queryFailed) *queryFailed = false;
  const std::vector<uint8_t> discover = BuildRequest(nonce, kCmdDiscover, nullptr, 0);
  if (discover.empty()) return 0;
  std::vector<plat::RawInterface> raw;
  if (!net::QueryAllInterfaces(query, raw)) {
    if (queryFailed) *queryFailed = true;
    return 0;
  }
  size_t kept = 0;
  for (const plat::RawInterface& r : raw) {
    InterfaceScan scan;
    scan.seen = r;
    scan.qualifies = net::Qualifies(r);
    if (scan.qualifies && ProbeOne(discover, receiveBuffer, scan, sockets)) ++kept;
    if (seen) seen->push_back(scan);
  }
  return kept;
}

ScanStats CollectReplies(std::vector<plat::UdpSocket>& sockets, DatagramFn fn, void* context,
                         const CollectLimits& limits) {
  ScanStats st;
  st.perSocket.resize(sockets.size());
  std::vector<plat::UdpSocket*> live;
  std::vector<ReplyCounts*> counts;
  std::vector<plat::WaitObject> waits;
  for (size_t i = 0; i < sockets.size(); ++i) {
    plat::UdpSocket& s = sockets[i];
    if (!s.SelectRead()) continue;
    live.push_back(&s);
    counts.push_back(&st.perSocket[i]);
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
    for (size_t i = 0; i < live.size(); ++i) {
      plat::UdpSocket* s = live[i];
      if (!s->PollReadable()) continue;
      activity = true;
      int n = s->RecvFrom(buf, sizeof buf, nullptr);
      if (n > 0) {
        ++st.datagrams;
        Tally(*counts[i], fn(buf, static_cast<size_t>(n), context));
      } else if (n == plat::kSockError || n == plat::kSockTruncated) {
        ++st.errors;
        ++counts[i]->errors;
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
