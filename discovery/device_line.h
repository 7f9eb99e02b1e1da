// The library's description of one KV-xR device: eight "|"-separated fields
// (model, address, MAC, version, DHCP or static, static address, netmask,
// gateway). The last field runs to the end of the line.
#pragma once
#include <cstdint>
#include <string_view>

#include "discovery/device_info.h"
#include "discovery/model_table.h"

namespace qs::disc {

struct DeviceLine {
  const ModelRow* row = nullptr;
  uint32_t currentAddress = 0;  // host order
  uint8_t mac[6] = {};
  VersionPair version;  // "*" gives (0, 0)
  bool dhcp = false;
  uint32_t staticAddress = 0;
  uint32_t netmask = 0;
  uint32_t gateway = 0;
};

// The line as ANSI text. false when any field fails its rule.
bool ParseDeviceLine(std::string_view line, DeviceLine* out);

}  // namespace qs::disc
