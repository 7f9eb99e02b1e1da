#include "cli/support_target.h"

#include <cstdio>
#include <cstring>

#include "app/logic/address_rule.h"
#include "discovery/text_fields.h"

namespace qs::cli {

bool ParseAddressArgument(const std::string& text, uint32_t* out) {
  size_t pos = 0;
  uint32_t a = 0;
  if (text.size() > 15 || !disc::ParseDottedQuad(text, pos, a) || pos != text.size()) return false;
  *out = a;
  return true;
}

bool ParseDeviceTarget(const std::string& text, DeviceTarget* out, std::string* why) {
  DeviceTarget t;
  size_t pos = 0;
  if (disc::ParseMacText(text, pos, ":-", t.mac) && pos == text.size()) {
    t.byMac = true;
    *out = t;
    return true;
  }
  if (ParseAddressArgument(text, &t.address)) {
    *out = t;
    return true;
  }
  *why = "'" + text + "' is neither a MAC (six hex pairs, 00-11-22-33-44-55) nor an IPv4 address (10.71.0.5)";
  return false;
}

bool TargetMatches(const DeviceTarget& t, const uint8_t mac[6], uint32_t address) {
  return t.byMac ? std::memcmp(t.mac, mac, 6) == 0 : t.address == address;
}

std::string MacText(const uint8_t m[6]) {
  char b[18];
  std::snprintf(b, sizeof b, "%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return b;
}

std::string TargetText(const DeviceTarget& t) {
  return t.byMac ? "MAC " + MacText(t.mac) : "address " + app::DottedQuad(t.address);
}

}  // namespace qs::cli
