#include "library/recovery_wire.h"

#include <cstring>

#include "runtime/bytes.h"

namespace qs::kvxr {

std::vector<std::vector<uint8_t>> BuildRecoveryRequests(const uint8_t requestId[16],
                                                        const std::vector<WatchEntry>& entries) {
  std::vector<std::vector<uint8_t>> out;
  size_t first = 0;
  do {
    const size_t n = entries.size() - first < kRecoveryMaxEntries ? entries.size() - first : kRecoveryMaxEntries;
    std::vector<uint8_t> d(kRecoveryRequestHead + kRecoveryEntrySize * n, 0);
    std::memcpy(d.data(), requestId, 16);
    bytes::PutLe32(d.data() + 16, kRecoveryRequestTag);
    bytes::PutLe16(d.data() + 20, static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) {
      uint8_t* e = d.data() + kRecoveryRequestHead + kRecoveryEntrySize * i;
      bytes::PutLe32(e, entries[first + i].key);
      std::memcpy(e + 4, entries[first + i].id.data(), 16);
    }
    out.push_back(std::move(d));
    first += n;
  } while (first < entries.size());
  return out;
}

bool ParseAnnouncement(const uint8_t* p, size_t len, Announcement& out) {
  if (!p || len < kAnnouncementSize || bytes::GetLe32(p + 16) != kAnnouncementTag) return false;
  const uint16_t port = bytes::GetLe16(p + 46);
  if (port == 0) return false;
  out.id = p + 24;
  std::memcpy(out.mac, p + 40, 6);
  out.port = port;
  return true;
}

bool ParseRecoveryRequest(const uint8_t* p, size_t len, RecoveryRequestView& out) {
  if (!p || len < kRecoveryRequestHead || bytes::GetLe32(p + 16) != kRecoveryRequestTag) return false;
  const size_t n = bytes::GetLe16(p + 20);
  if (n > kRecoveryMaxEntries || len != kRecoveryRequestHead + kRecoveryEntrySize * n) return false;
  out.requestId = p;
  out.count = n;
  out.entries = p + kRecoveryRequestHead;
  return true;
}

WatchEntry RequestEntry(const RecoveryRequestView& v, size_t i) {
  WatchEntry e;
  if (i >= v.count) return e;
  const uint8_t* p = v.entries + kRecoveryEntrySize * i;
  e.key = bytes::GetLe32(p);
  std::memcpy(e.id.data(), p + 4, 16);
  return e;
}

std::vector<uint8_t> BuildAnnouncement(const uint8_t id[16], const uint8_t mac[6], uint16_t port) {
  std::vector<uint8_t> d(kAnnouncementSize, 0);
  bytes::PutLe32(d.data() + 16, kAnnouncementTag);
  std::memcpy(d.data() + 24, id, 16);
  std::memcpy(d.data() + 40, mac, 6);
  bytes::PutLe16(d.data() + 46, port);
  return d;
}

}  // namespace qs::kvxr
