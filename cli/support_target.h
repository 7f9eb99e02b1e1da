// Naming a device on the command line: by its MAC or by its IPv4 address.
#pragma once
#include <cstdint>
#include <string>

namespace qs::cli {

struct DeviceTarget {
  bool byMac = false;
  uint8_t mac[6] = {};
  uint32_t address = 0;  // host order, when not by MAC
};

// "00-11-22-33-44-55", "00:11:22:33:44:55" or "10.71.0.5"; false with what is
// wrong in *why.
bool ParseDeviceTarget(const std::string& text, DeviceTarget* out, std::string* why);
// The whole text is one dotted quad (each number 0-255).
bool ParseAddressArgument(const std::string& text, uint32_t* out);

bool TargetMatches(const DeviceTarget& t, const uint8_t mac[6], uint32_t address);
// "MAC 02-AA-00-00-00-01" or "address 10.71.0.5", for messages.
std::string TargetText(const DeviceTarget& t);
std::string MacText(const uint8_t mac[6]);  // 02-AA-00-00-00-01

}  // namespace qs::cli
