#include "library/device_record.h"

#include <cstring>

#include "discovery/announce.h"

namespace qs::kvxr {

bool HwId::operator<(const HwId& o) const {
  for (size_t w = 0; w < kHwIdSize; w += 4) {
    int c = std::memcmp(bytes + w, o.bytes + w, 4);
    if (c != 0) return c < 0;
  }
  return false;
}

uint32_t ModelFromCode(const uint8_t code[8]) {
  char s[9] = {};
  std::memcpy(s, code, 8);
  if (std::strcmp(s, "KV1R") == 0) return 1;
  if (std::strcmp(s, "KV2R") == 0) return 2;
  if (std::strcmp(s, "KV3R") == 0) return 3;
  return 0;
}

bool RecordFromAnnounce(const uint8_t* p, size_t len, DeviceRecord* out) {
  disc::Announce a;
  if (!disc::DecodeAnnounce(p, len, disc::kAnnounceNeededByLibrary, &a)) return false;
  uint32_t model = ModelFromCode(a.modelCode);
  if (model == 0) return false;
  DeviceRecord r;
  r.model = model;
  std::memcpy(r.hardwareId, a.hardwareId, kHwIdSize);
  r.address = a.address;
  std::memcpy(r.mac, a.mac, 6);
  r.dhcp = a.dhcp ? 1 : 0;
  r.staticAddress = a.staticAddress;
  r.netmask = a.netmask;
  r.gateway = a.gateway;
  // The serial number and the first 16 bytes of the text that follows it.
  std::memcpy(r.serial, a.serial, sizeof a.serial);
  std::memcpy(r.serial + sizeof a.serial, a.text, kSerialFieldSize - sizeof a.serial);
  *out = r;
  return true;
}

bool LineOfRecord(const DeviceRecord& r, DeviceLine* out) {
  static const char* const kNames[] = {"KV-1R", "KV-2R", "KV-3R"};
  if (r.model < 1 || r.model > 3) return false;
  DeviceLine d;
  d.model = kNames[r.model - 1];
  d.address = r.address;
  std::memcpy(d.mac, r.mac, 6);
  d.major = r.versionMajor;
  d.minor = r.versionMinor;
  d.dhcp = r.dhcp != 0;
  d.staticAddress = r.staticAddress;
  d.netmask = r.netmask;
  d.gateway = r.gateway;
  *out = d;
  return true;
}

std::u16string FormatDeviceLine(const DeviceRecord& r) {
  DeviceLine d;
  if (!LineOfRecord(r, &d)) return {};
  std::string s = FormatDeviceLine(d);
  return std::u16string(s.begin(), s.end());  // ASCII throughout
}

std::string SerialText(const DeviceRecord& r) {
  size_t n = 0;
  while (n < kSerialFieldSize && r.serial[n]) ++n;
  return std::string(reinterpret_cast<const char*>(r.serial), n);
}

}  // namespace qs::kvxr
