#include "app/logic/device_line.h"

#include <cstring>

#include "library/device_line.h"

namespace qs::app {

DeviceSearch::DeviceSearch(const uint8_t wanted[6]) { std::memcpy(wanted_, wanted, 6); }

void DeviceSearch::Offer(int32_t handle, std::string_view line) {
  kvxr::DeviceLine d;
  if (!kvxr::ParseDeviceLine(line, &d, kvxr::LineRule::Leading)) return;
  if (std::memcmp(d.mac, wanted_, 6) != 0) return;
  found_ = true;
  handle_ = handle;
}

}  // namespace qs::app
