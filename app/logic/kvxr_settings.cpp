#include "app/logic/kvxr_settings.h"

#include <cstdio>
#include <string>

#include "runtime/bytes.h"

namespace qs::app {

namespace {
// ASCII text to wide.
std::u16string Widen(std::string_view s) { return std::u16string(s.begin(), s.end()); }
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

std::u16string FormatIPv4(uint32_t a) { return Widen(bytes::FormatIpv4(a)); }

std::u16string FormatMac(const uint8_t m[6]) { return Widen(bytes::FormatMac(m, '-')); }

std::u16string ConfigText(const NetSettings& f) {
  if (f.dhcp) return u"DHCP|*|*|*";
  return u"static|" + FormatIPv4(f.address) + u"|" + FormatIPv4(f.netmask) + u"|" + FormatIPv4(f.gateway);
}

std::u16string FormatVersion(const Version& v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "v%u.%03u", v.major, v.minor);
  return Widen(buf);
}

bool ShowFirmwareLink(const Version& device, const Version& fileVersion) {
  if (IsZero(device)) return false;
  Version floor{2, 0};
  Version target = fileVersion < floor ? floor : fileVersion;
  return device < target;
}

bool ParseFirmwareVersion(std::u16string_view text, Version& out) {
  // Anything beyond ASCII becomes a character no number or dot matches.
  std::string narrow;
  for (char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '\x7F');
  std::string_view s = narrow;
  size_t pos = 0;
  Version v;
  if (!bytes::ParseDecimal(s, pos, 0xFFFFFFFFu, v.major)) return false;
  if (pos >= s.size() || s[pos] != '.') return false;
  ++pos;
  if (!bytes::ParseDecimal(s, pos, 0xFFFFFFFFu, v.minor)) return false;
  if (IsZero(v)) return false;
  out = v;
  return true;
}

}  // namespace qs::app
