// Which row a reported device goes to, which page it gets, and when the list
// selects it. The window hands in plain keys taken from its device records.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs::app {

struct DeviceKey {
  int32_t modelId = 0;
  uint32_t address = 0;  // host order
  uint8_t mac[6] = {};
  uint8_t hardwareId[16] = {};
};

inline bool IsKvxrModelId(int32_t id) { return id >= 12 && id <= 14; }

// KV-xR models count as one model; same model, then the MAC (other models) or
// the hardware identifier (KV-xR) decides.
bool SameDevice(const DeviceKey& a, const DeviceKey& b);

// Existing row e sorts before a new record n: by model group, then by the last
// octet of the address, then by the whole address.
bool SortsBefore(const DeviceKey& e, const DeviceKey& n);

// Index before the first row that does not sort before n (lower bound).
size_t InsertPosition(const std::vector<DeviceKey>& rows, const DeviceKey& n);

// The address column: "." and the last octet, ".23" for 192.168.1.23.
std::u16string LastOctetText(uint32_t address);

enum class PageKind { None, FirstFamily, Kvxr };
PageKind PageFor(int32_t modelId);

// A reported row is selected when it is the device remembered at the last
// refresh and fewer than 3000 ms have passed, or else when the list was empty.
constexpr uint32_t kReselectWindowMs = 3000;
bool ShouldSelect(bool haveRemembered, bool sameAsRemembered, uint32_t msSinceRefresh, bool listWasEmpty);

// After row `removed` was deleted leaving `countAfter` rows: the row whose page
// is shown next, or -1 when none remains.
int RowAfterRemoval(int removed, int countAfter);

}  // namespace qs::app
