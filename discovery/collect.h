// The program's datagram scan: probes out of every local interface, then one
// bounded collection of the replies.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "discovery/frame.h"
#include "discovery/replies.h"
#include "net/adapters.h"
#include "platform/socket.h"

namespace qs::disc {

constexpr size_t kReceiveBuffer = 1024;  // per datagram; longer ones are skipped

struct CollectLimits {
  uint32_t windowMs = 500;  // replies are awaited this long
  // A steady stream of datagrams keeps the drain going past the window; this
  // bounds the whole collection so a flood cannot hold the caller.
  uint32_t hardLimitMs = 3000;
};

// Socket receive buffer asked for on each scan socket, so that a burst of
// hundreds of replies is queued rather than dropped.
constexpr int kScanSocketBuffer = 4 * 1024 * 1024;

// What came back on one socket, by kind (discovery/replies.h).
struct ReplyCounts {
  uint32_t firstFamily = 0;
  uint32_t kvxr = 0;
  uint32_t unlisted = 0;
  uint32_t invalid = 0;
  uint32_t errors = 0;  // receive errors (oversized included)
  uint32_t Total() const { return firstFamily + kvxr + unlisted + invalid; }
};

// One IPv4 interface the system listed, and what the scan did there.
struct InterfaceScan {
  plat::RawInterface seen;
  bool qualifies = false;  // up and not loopback
  bool socket = false;     // its socket was set up and the probes tried
  uint32_t textProbes = 0;        // "Scan" sent to the directed broadcast, port 9010
  uint32_t discoverRequests = 0;  // sent to 255.255.255.255, port 59300
  uint32_t sendFailures = 0;
  ReplyCounts replies;
};

struct ScanStats {
  size_t interfaces = 0;  // sockets kept
  size_t datagrams = 0;   // received with a length above 0
  size_t errors = 0;      // receive errors (oversized included)
  bool hitHardLimit = false;
  uint32_t elapsedMs = 0;
  bool interfaceQueryFailed = false;
  // Every IPv4 interface of the system's list, in its order; filled by the
  // manager's scan.
  std::vector<InterfaceScan> seen;
  // Per socket handed to CollectReplies, in its order.
  std::vector<ReplyCounts> perSocket;
};

// Opens one socket per qualifying interface, sends "Scan" to its directed
// broadcast on 9010 and the discover request to 255.255.255.255 on 59300, and
// appends the socket to `sockets`. Interfaces whose socket cannot be set up are
// skipped. Returns how many sockets were kept. receiveBuffer 0 leaves the
// system's default (for measurements). seen (optional) receives every
// interface listed and what was sent there; queryFailed, whether the list
// could not be read at all.
size_t SendScanProbes(const uint8_t nonce[kNonceSize], std::vector<plat::UdpSocket>& sockets,
                      net::InterfaceQueryFn query = plat::QueryInterfaces, int receiveBuffer = kScanSocketBuffer,
                      std::vector<InterfaceScan>* seen = nullptr, bool* queryFailed = nullptr);

// Handles one datagram and says what it was, for the counts.
using DatagramFn = ReplyKind (*)(const uint8_t* data, size_t len, void* context);

// Receives from all sockets together until the window has passed and 1 ms goes
// by with nothing to read, or the hard limit is reached. Calls fn once per
// datagram, in the order read, on the calling thread.
ScanStats CollectReplies(std::vector<plat::UdpSocket>& sockets, DatagramFn fn, void* context,
                         const CollectLimits& limits = CollectLimits());

}  // namespace qs::disc
