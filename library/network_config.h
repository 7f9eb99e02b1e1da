// The network settings a caller asks for, the text they are given in, and the
// set-config request built from them and the device's own announce.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "library/KV-xR_update.h"
#include "library/device_record.h"

namespace qs::kvxr {

constexpr int32_t kCfgBadKeyword = -101;
constexpr int32_t kCfgNoSeparator = -102;
constexpr int32_t kCfgBadAddress = -103;

struct NetworkSettings {
  uint32_t dhcp = 0;  // 1 DHCP, 0 static (low byte tested)
  uint32_t address = 0;
  uint8_t addressPresent = 0;
  uint32_t netmask = 0;
  uint8_t netmaskPresent = 0;
  uint32_t gateway = 0;
  uint8_t gatewayPresent = 0;
  uint8_t operationMode = 0;
  uint8_t operationModePresent = 0;
};

// "DHCP|a|m|g" or "static|a|m|g", each field a dotted quad or "*" (left as
// it is); blanks before fields and separators. 0, or a kCfg* code.
int32_t ParseNetworkText(const KVxR_WCHAR* text, NetworkSettings* out);

// What a rediscovery learnt of the device: its announce fields and, when it
// sent one, its operation-mode report.
struct CurrentDevice {
  uint8_t hardwareId[kHwIdSize] = {};
  uint8_t mac[6] = {};
  uint32_t address = 0;
  uint32_t staticAddress = 0, netmask = 0, gateway = 0;
  uint8_t modelCode[8] = {};
  uint8_t serial[24] = {};
  uint8_t text[40] = {};
  uint8_t operationMode = 0;
};

// The announce of the device (payload of a verified 0x5501); false when too
// short to hold the fields read.
bool CurrentFromAnnounce(const uint8_t* payload, size_t len, CurrentDevice* out);

// The 108-byte set-config payload: the requested settings merged with what
// the device reported.
std::vector<uint8_t> SetConfigPayload(const NetworkSettings& s, const CurrentDevice& d);

}  // namespace qs::kvxr
