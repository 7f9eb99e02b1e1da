#include "cli/support_target.h"

#include <cstring>

#include "runtime/bytes.h"

namespace qs::cli {

bool ParseAddressArgument(const std::string& text, uint32_t* out) { return bytes::ParseIpv4(text, *out); }

bool ParseDeviceTarget(const std::string& text, DeviceTarget* out, std::string* why) {
  DeviceTarget t;
  if (bytes::ParseMac(text, t.mac)) {
    t.byMac = true;
    *out = t;
    return true;
  }
  if (bytes::ParseIpv4(text, t.address)) {
    *out = t;
    return true;
  }
  *why = "'" + text + "' is neither a MAC (six hex pairs, 00-11-22-33-44-55) nor an IPv4 address (10.71.0.5)";
  return false;
}

bool TargetMatches(const DeviceTarget& t, const uint8_t mac[6], uint32_t address) {
  return t.byMac ? std::memcmp(t.mac, mac, 6) == 0 : t.address == address;
}

std::string MacText(const uint8_t m[6]) { return bytes::FormatMac(m); }

std::string TargetText(const DeviceTarget& t) {
  return t.byMac ? "MAC " + MacText(t.mac) : "address " + bytes::FormatIpv4(t.address);
}

}  // namespace qs::cli
