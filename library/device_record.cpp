#include "library/device_record.h"

#include <cstdio>
#include <cstring>

namespace qs::kvxr {

namespace {

uint32_t GetBe32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Runs of at least one digit; false when it would not fit 32 bits.
bool Digits(const uint8_t* p, size_t len, size_t* used, uint32_t* value) {
  uint64_t v = 0;
  size_t i = 0;
  while (i < len && p[i] >= '0' && p[i] <= '9') {
    v = v * 10 + (p[i] - '0');
    if (v > 0xFFFFFFFFull) return false;
    ++i;
  }
  if (i == 0) return false;
  *used = i;
  *value = static_cast<uint32_t>(v);
  return true;
}

void AppendAddress(std::string& s, uint32_t a) {
  char b[16];
  std::snprintf(b, sizeof b, "%u.%u.%u.%u", (a >> 24) & 255u, (a >> 16) & 255u, (a >> 8) & 255u, a & 255u);
  s += b;
}

}  // namespace

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
  if (!p || len < kAnnounceMinPayload) return false;
  uint32_t model = ModelFromCode(p + 39);
  if (model == 0) return false;
  DeviceRecord r;
  r.model = model;
  std::memcpy(r.hardwareId, p, kHwIdSize);
  r.address = GetBe32(p + 16);
  std::memcpy(r.mac, p + 20, 6);
  r.dhcp = p[26] == 1 ? 1 : 0;
  r.staticAddress = GetBe32(p + 27);
  r.netmask = GetBe32(p + 31);
  r.gateway = GetBe32(p + 35);
  std::memcpy(r.serial, p + 47, kSerialFieldSize);
  *out = r;
  return true;
}

bool ParseOpModeReport(const uint8_t* p, size_t len, HwId* id, uint8_t* mode) {
  bool haveId = false, haveMode = false;
  size_t at = 0, left = len;
  while (left >= 2 && static_cast<size_t>(p[at + 1]) + 2 <= left) {
    uint8_t tag = p[at], l = p[at + 1];
    const uint8_t* data = p + at + 2;
    if (tag == 0xA0 && l == kHwIdSize) {
      std::memcpy(id->bytes, data, kHwIdSize);
      haveId = true;
    } else if (tag == 0xA1 && l >= 1) {
      *mode = data[0];
      haveMode = true;
    }
    at += 2 + l;
    left -= 2 + l;
  }
  return haveId && haveMode;
}

bool ParseVersionReply(const uint8_t* d, size_t len, uint32_t* major, uint32_t* minor) {
  static const char kTag[] = "\x02Version:";
  const size_t tagLen = sizeof kTag - 1;
  if (!d || len < tagLen || std::memcmp(d, kTag, tagLen) != 0) return false;
  const uint8_t* p = d + tagLen;
  size_t left = len - tagLen, used = 0;
  uint32_t a = 0, b = 0;
  if (!Digits(p, left, &used, &a)) return false;
  p += used;
  left -= used;
  if (left == 0 || *p != '.') return false;
  ++p;
  --left;
  if (!Digits(p, left, &used, &b)) return false;
  *major = a;
  *minor = b;
  return true;
}

std::u16string FormatDeviceLine(const DeviceRecord& r) {
  static const char* const kNames[] = {"KV-1R", "KV-2R", "KV-3R"};
  if (r.model < 1 || r.model > 3) return {};
  std::string s = kNames[r.model - 1];
  s += '|';
  AppendAddress(s, r.address);
  char b[32];
  std::snprintf(b, sizeof b, "|%02X:%02X:%02X:%02X:%02X:%02X|", r.mac[0], r.mac[1], r.mac[2], r.mac[3], r.mac[4],
                r.mac[5]);
  s += b;
  if (r.versionMajor == 0 && r.versionMinor == 0) {
    s += '*';
  } else {
    std::snprintf(b, sizeof b, "%u.%u", r.versionMajor, r.versionMinor);
    s += b;
  }
  s += r.dhcp ? "|DHCP|" : "|static|";
  AppendAddress(s, r.staticAddress);
  s += '|';
  AppendAddress(s, r.netmask);
  s += '|';
  AppendAddress(s, r.gateway);
  return std::u16string(s.begin(), s.end());  // ASCII throughout
}

std::string SerialText(const DeviceRecord& r) {
  size_t n = 0;
  while (n < kSerialFieldSize && r.serial[n]) ++n;
  return std::string(reinterpret_cast<const char*>(r.serial), n);
}

}  // namespace qs::kvxr
