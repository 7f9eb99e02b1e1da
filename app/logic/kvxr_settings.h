// The KV-xR page's rules: when its settings count as changed and as valid,
// the netmask and gateway it suggests for an address, the configuration text
// it hands to the library, and when the firmware link is offered.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::app {

struct NetSettings {
  bool dhcp = false;
  uint32_t address = 0;  // host order
  uint32_t netmask = 0;
  uint32_t gateway = 0;
};

// What the device record says about itself.
struct RecordSettings {
  bool dhcp = false;
  uint32_t currentAddress = 0;
  uint32_t staticAddress = 0;
  uint32_t netmask = 0;
  uint32_t gateway = 0;
};

// The fields as the page loads them: the current address when on DHCP.
NetSettings FieldsFromRecord(const RecordSettings& r);

bool IsChanged(const RecordSettings& record, const NetSettings& fields);
// Netmask neither 0.0.0.0 nor 255.255.255.255, gateway not 0.0.0.0 (in both modes).
bool IsValid(const NetSettings& fields);

// Netmask and gateway for a private address; false (fields left alone) elsewhere.
bool SuggestFor(uint32_t address, uint32_t& netmask, uint32_t& gateway);

// "DHCP|*|*|*" or "static|a.b.c.d|m.m.m.m|g.g.g.g".
std::u16string ConfigText(const NetSettings& fields);

std::u16string FormatIPv4(uint32_t address);
std::u16string FormatMac(const uint8_t mac[6]);  // "%02X-%02X-..."

struct Version {
  uint32_t major = 0;
  uint32_t minor = 0;
};
inline bool operator<(const Version& a, const Version& b) {
  return a.major != b.major ? a.major < b.major : a.minor < b.minor;
}
inline bool operator==(const Version& a, const Version& b) { return a.major == b.major && a.minor == b.minor; }
inline bool IsZero(const Version& v) { return v.major == 0 && v.minor == 0; }

// "v%u.%03u"
std::u16string FormatVersion(const Version& v);

// Shown when the device reports a version and it is below the larger of the
// accepted firmware file's version and 2.0.
bool ShowFirmwareLink(const Version& device, const Version& fileVersion);

// The library's version text after a file was accepted: digits, ".", digits.
// false when it does not read so or when both numbers are 0.
bool ParseFirmwareVersion(std::u16string_view text, Version& out);

}  // namespace qs::app
