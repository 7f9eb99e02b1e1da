// What the library knows of one KV-xR device found by a scan: read from its
// announce (discovery/announce.h), its operation-mode report and its version
// reply, and written out as its device line (library/device_line.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "library/device_line.h"

namespace qs::kvxr {

constexpr size_t kHwIdSize = 16;
constexpr size_t kSerialFieldSize = 40;

// Copied by value between the scanner, the scan result and the exports.
struct DeviceRecord {
  uint32_t model = 0;    // 1 KV-1R, 2 KV-2R, 3 KV-3R
  uint32_t address = 0;  // current address, host order
  uint8_t mac[6] = {};
  uint8_t hardwareId[kHwIdSize] = {};
  uint8_t dhcp = 0;
  uint8_t operationMode = 0;
  uint32_t staticAddress = 0;
  uint32_t netmask = 0;
  uint32_t gateway = 0;
  uint8_t serial[kSerialFieldSize] = {};  // serial number (24) + start of the text field (16)
  uint32_t interfaceAddress = 0;
  uint32_t interfaceNetmask = 0;
  uint32_t interfaceDhcp = 0;
  uint32_t versionMajor = 0;
  uint32_t versionMinor = 0;
};

// Orders identifiers by their four 32-bit words in turn, each word compared
// by its bytes from the lowest address.
struct HwId {
  uint8_t bytes[kHwIdSize] = {};
  bool operator<(const HwId& o) const;
};

// 1, 2 or 3 for the model codes "KV1R", "KV2R", "KV3R" (the 8-byte field read
// up to its first NUL); 0 for anything else.
uint32_t ModelFromCode(const uint8_t code[8]);

// Fills the announce fields of the record from a verified announce payload;
// false when the payload is too short for them (kAnnounceNeededByLibrary) or
// the model is not a KV-xR model.
bool RecordFromAnnounce(const uint8_t* payload, size_t len, DeviceRecord* out);

// The record as its device line says it; false for a model other than 1-3,
// which has no line.
bool LineOfRecord(const DeviceRecord& r, DeviceLine* out);

// The device line as the callbacks receive it; empty for a model other than 1-3.
std::u16string FormatDeviceLine(const DeviceRecord& r);

// The serial field up to its first NUL (at most 40 characters).
std::string SerialText(const DeviceRecord& r);

}  // namespace qs::kvxr
