// The recovery scan's formats: an accepted announcement or request is read
// from inside the datagram and rebuilt the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "library/recovery_wire.h"

using namespace qs::kvxr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Announcement a;
  if (ParseAnnouncement(data, size, a)) {
    if (size < kAnnouncementSize || a.port == 0 || a.id != data + 24) std::abort();
    const std::vector<uint8_t> again = BuildAnnouncement(a.id, a.mac, a.port);
    if (std::memcmp(again.data() + 16, data + 16, 4) != 0 || std::memcmp(again.data() + 24, data + 24, 24) != 0)
      std::abort();
  }
  RecoveryRequestView v;
  if (ParseRecoveryRequest(data, size, v)) {
    if (v.count > kRecoveryMaxEntries) std::abort();
    std::vector<WatchEntry> entries;
    for (size_t i = 0; i < v.count; ++i) entries.push_back(RequestEntry(v, i));
    const auto again = BuildRecoveryRequests(v.requestId, entries);
    if (again.size() != 1 || again[0].size() != size || std::memcmp(again[0].data(), data, 20) != 0 ||
        std::memcmp(again[0].data() + 24, data + 24, size - 24) != 0)
      std::abort();
  }
  return 0;
}
