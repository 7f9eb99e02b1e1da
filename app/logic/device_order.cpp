#include "app/logic/device_order.h"

#include <cstring>

namespace qs::app {

bool SameDevice(const DeviceKey& a, const DeviceKey& b) {
  if (a.modelId != b.modelId) return false;
  if (IsKvxrModelId(a.modelId)) return std::memcmp(a.hardwareId, b.hardwareId, sizeof a.hardwareId) == 0;
  return std::memcmp(a.mac, b.mac, sizeof a.mac) == 0;
}

bool SortsBefore(const DeviceKey& e, const DeviceKey& n) {
  bool sameGroup = e.modelId == n.modelId || (IsKvxrModelId(e.modelId) && IsKvxrModelId(n.modelId));
  if (!sameGroup) return e.modelId < n.modelId;
  uint32_t eLast = e.address & 0xFF, nLast = n.address & 0xFF;
  if (eLast != nLast) return eLast < nLast;
  return e.address < n.address;
}

size_t InsertPosition(const std::vector<DeviceKey>& rows, const DeviceKey& n) {
  size_t i = 0;
  while (i < rows.size() && SortsBefore(rows[i], n)) ++i;
  return i;
}

std::u16string LastOctetText(uint32_t address) {
  std::u16string s = u".";
  for (char c : std::to_string(address & 0xFF)) s.push_back(static_cast<char16_t>(c));
  return s;
}

PageKind PageFor(int32_t modelId) {
  switch (modelId) {
    case 4: case 5: case 10: case 11: return PageKind::FirstFamily;
    case 12: case 13: case 14: return PageKind::Kvxr;
    default: return PageKind::None;
  }
}

bool ShouldSelect(bool haveRemembered, bool sameAsRemembered, uint32_t msSinceRefresh, bool listWasEmpty) {
  if (haveRemembered && msSinceRefresh < kReselectWindowMs && sameAsRemembered) return true;
  return listWasEmpty;
}

int RowAfterRemoval(int removed, int countAfter) {
  int row = removed;
  if (row >= countAfter) row = countAfter - 1;
  return row >= 0 ? row : -1;
}

}  // namespace qs::app
