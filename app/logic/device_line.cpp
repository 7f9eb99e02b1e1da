#include "app/logic/device_line.h"

#include <cstring>

#include "app/logic/cmdline.h"

namespace qs::app {

namespace {
bool BeginsWithIPv4(std::string_view field) {
  TextScanner s(field);
  uint32_t a = 0;
  return s.ReadIPv4(a);
}
bool BeginsWith(std::string_view field, std::string_view prefix) { return field.substr(0, prefix.size()) == prefix; }
}  // namespace

bool ReadDeviceLineMac(std::string_view line, uint8_t mac[6]) {
  TextScanner s(line);
  std::string_view f[8];
  for (int i = 0; i < 8; ++i) f[i] = s.ReadField('|');
  // Fewer than eight separators leave the trailing fields empty; they fail below.
  if (!BeginsWithIPv4(f[1])) return false;
  TextScanner m(f[2]);
  uint8_t found[6];
  if (!m.ReadMac(found)) return false;
  if (!BeginsWith(f[4], "DHCP") && !BeginsWith(f[4], "static")) return false;
  for (int i = 5; i < 8; ++i)
    if (!BeginsWithIPv4(f[i])) return false;
  std::memcpy(mac, found, 6);
  return true;
}

DeviceSearch::DeviceSearch(const uint8_t wanted[6]) { std::memcpy(wanted_, wanted, 6); }

void DeviceSearch::Offer(int32_t handle, std::string_view line) {
  uint8_t mac[6];
  if (!ReadDeviceLineMac(line, mac)) return;
  if (std::memcmp(mac, wanted_, 6) != 0) return;
  found_ = true;
  handle_ = handle;
}

}  // namespace qs::app
