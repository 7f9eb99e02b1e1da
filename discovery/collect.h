// The program's datagram scan: probes out of every local interface, then one
// bounded collection of the replies.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "discovery/frame.h"
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

struct ScanStats {
  size_t interfaces = 0;  // sockets kept
  size_t datagrams = 0;   // received with a length above 0
  size_t errors = 0;      // receive errors (oversized included)
  bool hitHardLimit = false;
  uint32_t elapsedMs = 0;
};

// Opens one socket per qualifying interface, sends "Scan" to its directed
// broadcast on 9010 and the discover request to 255.255.255.255 on 59300, and
// appends the socket to `sockets`. Interfaces whose socket cannot be set up are
// skipped. Returns how many sockets were kept. receiveBuffer 0 leaves the
// system's default (for measurements).
size_t SendScanProbes(const uint8_t nonce[kNonceSize], std::vector<plat::UdpSocket>& sockets,
                      net::InterfaceQueryFn query = plat::QueryInterfaces, int receiveBuffer = kScanSocketBuffer);

using DatagramFn = void (*)(const uint8_t* data, size_t len, void* context);

// Receives from all sockets together until the window has passed and 1 ms goes
// by with nothing to read, or the hard limit is reached. Calls fn once per
// datagram, in the order read, on the calling thread.
ScanStats CollectReplies(std::vector<plat::UdpSocket>& sockets, DatagramFn fn, void* context,
                         const CollectLimits& limits = CollectLimits());

}  // namespace qs::disc
