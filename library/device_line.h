// The device line: the library's description of one KV-xR device, handed to
// the device callbacks as wide text (ASCII throughout). Eight fields joined by
// "|", no blanks:
//   1  model name: "KV-1R", "KV-2R" or "KV-3R"
//   2  current IPv4 address, dotted decimal
//   3  MAC address: six upper-case hexadecimal pairs joined by ":"
//   4  firmware version: major "." minor, both plain decimal (1.12, 1.5);
//      "*" when the device did not say (0.0)
//   5  "DHCP" when the device uses DHCP, else "static"
//   6  configured static IPv4 address, dotted decimal
//   7  configured netmask, dotted decimal
//   8  configured gateway, dotted decimal; this field runs to the end of the line
//
// The library writes it here; the program, the console front end and the
// tests read it here. Reading is a little more forgiving than writing, in the
// two ways the program's rules ask for (Whole and Leading below).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::kvxr {

struct DeviceLine {
  std::string model;  // field 1 as written (a reader matches it to its own model table)
  uint32_t address = 0;  // host order
  uint8_t mac[6] = {};
  uint32_t major = 0;  // (0, 0): "*"
  uint32_t minor = 0;
  bool dhcp = false;
  uint32_t staticAddress = 0;
  uint32_t netmask = 0;
  uint32_t gateway = 0;
};

std::string FormatDeviceLine(const DeviceLine& d);

enum class LineRule {
  // Every field is exactly its value (the device list's rule): field 1 is
  // kept as written; the MAC may also be joined by "-" and have lower-case
  // digits; field 5 may have blanks before its keyword and anything after it.
  Whole,
  // Fields 2, 3, 5, 6, 7 and 8 need only begin with their value, field 5
  // without blanks; fields 1 and 4 are not read (the rule of the device page
  // when it looks for a device's handle by MAC).
  Leading,
};

// false (out untouched) when the line breaks the rule.
bool ParseDeviceLine(std::string_view line, DeviceLine* out, LineRule rule = LineRule::Whole);

}  // namespace qs::kvxr
