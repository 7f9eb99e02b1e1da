#include "app/logic/kvxr_settings.h"

#include <cstdio>

namespace qs::app {

namespace {
std::u16string Widen(const char* s) {
  std::u16string w;
  for (; *s; ++s) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return w;
}
}  // namespace

NetSettings FieldsFromRecord(const RecordSettings& r) {
  NetSettings f;
  f.dhcp = r.dhcp;
  f.address = r.dhcp ? r.currentAddress : r.staticAddress;
  f.netmask = r.netmask;
  f.gateway = r.gateway;
  return f;
}

bool IsChanged(const RecordSettings& record, const NetSettings& fields) {
  if (fields.dhcp != record.dhcp) return true;
  if (fields.dhcp) return false;
  return fields.address != record.staticAddress || fields.netmask != record.netmask ||
         fields.gateway != record.gateway;
}

bool IsValid(const NetSettings& fields) {
  return fields.netmask != 0 && fields.netmask != 0xFFFFFFFFu && fields.gateway != 0;
}

bool SuggestFor(uint32_t a, uint32_t& netmask, uint32_t& gateway) {
  if ((a >> 24) == 10) {
    netmask = 0xFF000000u;
    gateway = 0x0A000001u;
    return true;
  }
  if ((a >> 20) == ((172u << 4) | 1u)) {  // 172.16.0.0/12
    netmask = 0xFFFF0000u;
    gateway = (a & 0xFFFF0000u) | 1u;
    return true;
  }
  if ((a >> 16) == ((192u << 8) | 168u)) {
    netmask = 0xFFFFFF00u;
    gateway = (a & 0xFFFFFF00u) | 1u;
    return true;
  }
  return false;
}

std::u16string FormatIPv4(uint32_t a) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return Widen(buf);
}

std::u16string FormatMac(const uint8_t m[6]) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return Widen(buf);
}

std::u16string ConfigText(const NetSettings& f) {
  if (f.dhcp) return u"DHCP|*|*|*";
  return u"static|" + FormatIPv4(f.address) + u"|" + FormatIPv4(f.netmask) + u"|" + FormatIPv4(f.gateway);
}

std::u16string FormatVersion(const Version& v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "v%u.%03u", v.major, v.minor);
  return Widen(buf);
}

bool ShowFirmwareLink(const Version& device, const Version& newestFile) {
  if (IsZero(device)) return false;
  Version floor{2, 0};
  Version target = newestFile < floor ? floor : newestFile;
  return device < target;
}

bool ParseFirmwareVersion(std::u16string_view text, Version& out) {
  size_t i = 0;
  auto number = [&](uint32_t& v) {
    size_t start = i;
    uint64_t n = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      n = n * 10 + static_cast<uint64_t>(text[i] - u'0');
      if (n > 0xFFFFFFFFu) return false;
      ++i;
    }
    v = static_cast<uint32_t>(n);
    return i > start;
  };
  Version v;
  if (!number(v.major)) return false;
  if (i >= text.size() || text[i] != u'.') return false;
  ++i;
  if (!number(v.minor)) return false;
  if (IsZero(v)) return false;
  out = v;
  return true;
}

}  // namespace qs::app
