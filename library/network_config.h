// The network settings a caller asks for, the text they are given in, and the
// set-config request (library/set_config.h) built from them and from what the
// device's own announce says.
#pragma once
#include <cstddef>
#include <cstdint>

#include "discovery/announce.h"
#include "library/KV-xR_update.h"
#include "library/set_config.h"

namespace qs::kvxr {

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
// it is); blanks before fields and separators. KVXR_OK, KVXR_BAD_KEYWORD,
// KVXR_NO_SEPARATOR or KVXR_BAD_ADDRESS.
int32_t ParseNetworkText(const KVxR_WCHAR* text, NetworkSettings* out);

// What a rediscovery learnt of the device: its announce and its operation
// mode (from its operation-mode report, or from the scan).
struct CurrentDevice {
  disc::Announce announce;
  uint8_t operationMode = 0;
};

// The request: the asked-for settings merged with what the device reported.
SetConfigRequest MergeSettings(const NetworkSettings& s, const CurrentDevice& d);

}  // namespace qs::kvxr
