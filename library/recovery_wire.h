// The recovery scan on UDP port 60894: the listener's request, broadcast to
// 255.255.255.255 every 500 ms, and the announcement with which a boot loader
// answers. Integers are little-endian.
//
// Request, library -> 255.255.255.255:60894, 24 + 20n bytes:
//   0        16  request identifier (made when the request is built; not read)
//   16       4   tag 0xD15C
//   20       2   n: watch entries that follow (0 to 64)
//   22       2   zero
//   24       20n entries: key u32, then the 16-byte identifier of a watched device
// More than 64 watched devices take several requests, 64 entries each.
//
// Announcement, device -> library, at least 48 bytes:
//   0        16  not read
//   16       4   tag 0x9071
//   20       4   not read
//   24       16  the device's identifier
//   40       6   the device's MAC address
//   46       2   TCP port of the boot loader's programming stream (not 0)
//   48       ..  not read
// The sender's IPv4 address is the device's address. A datagram that carries
// the tag but is shorter than 48 bytes or names port 0 lacks what the update
// needs and is refused.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::kvxr {

constexpr uint16_t kRecoveryPort = 60894;
constexpr uint32_t kRecoveryRequestTag = 0xD15C;
constexpr uint32_t kAnnouncementTag = 0x9071;
constexpr size_t kRecoveryRequestHead = 24;
constexpr size_t kRecoveryEntrySize = 20;
constexpr size_t kRecoveryMaxEntries = 64;
constexpr size_t kAnnouncementSize = 48;

struct WatchEntry {
  uint32_t key = 0;
  std::array<uint8_t, 16> id{};
};

// One request per 64 entries (one, with n = 0, when nothing is watched), all
// carrying requestId.
std::vector<std::vector<uint8_t>> BuildRecoveryRequests(const uint8_t requestId[16],
                                                        const std::vector<WatchEntry>& entries);

struct Announcement {
  const uint8_t* id = nullptr;  // into the datagram
  uint8_t mac[6] = {};
  uint16_t port = 0;
};
bool ParseAnnouncement(const uint8_t* p, size_t len, Announcement& out);

// Device side (the simulator and tests).
struct RecoveryRequestView {
  const uint8_t* requestId = nullptr;
  size_t count = 0;
  const uint8_t* entries = nullptr;  // count x 20 bytes
};
// Exactly 24 + 20n bytes, the tag, n at most 64.
bool ParseRecoveryRequest(const uint8_t* p, size_t len, RecoveryRequestView& out);
WatchEntry RequestEntry(const RecoveryRequestView& v, size_t i);
// 48 bytes; bytes 0..15 and 20..23 zero.
std::vector<uint8_t> BuildAnnouncement(const uint8_t id[16], const uint8_t mac[6], uint16_t port);

}  // namespace qs::kvxr
