// The wink: makes a device signal where it is. Older firmware understands the
// plain "Wink" text; newer firmware the authenticated request (both in
// discovery/wink_request.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "discovery/device_info.h"
#include "discovery/wink_request.h"
#include "net/adapters.h"
#include "platform/socket.h"

namespace qs::disc {

// One UDP socket with readable-data notification, for the datagrams sent here.
class EventSocket {
 public:
  bool Open(uint32_t address, uint16_t port);  // nothing stays open on failure
  void Close() { socket_.Close(); }
  plat::UdpSocket& socket() { return socket_; }

 private:
  plat::UdpSocket socket_;
};

enum class WinkKind { Legacy, Authenticated };

// Versions from 0.1 to 0.136 get the legacy wink; (0, 0) means no version was
// reported and, like anything newer, gets the authenticated one.
WinkKind ChooseWink(const VersionPair& v);

struct WinkOutcome {
  WinkKind kind = WinkKind::Authenticated;
  uint32_t target = 0;  // where it went (host order)
  size_t sent = 0;      // datagrams handed to the system
  size_t interfaces = 0;  // interfaces tried (authenticated wink)
  std::vector<uint32_t> from;  // local addresses a datagram went out from (authenticated wink)
};

// Sends the wink suited to the device and tells what went out.
WinkOutcome SendWinkTo(IDeviceInfo* device, net::InterfaceQueryFn query = plat::QueryInterfaces);

// No reply is awaited and nothing is reported.
void SendWink(IDeviceInfo* device);

}  // namespace qs::disc
