#include "library/device_line.h"


#include "runtime/bytes.h"

namespace qs::kvxr {

namespace {

constexpr size_t kFields = 8;

// The address at the start of the field; whole: nothing may follow it.
bool Address(std::string_view f, bool whole, uint32_t& out) {
  size_t pos = 0;
  return bytes::ParseIpv4At(f, pos, out) && (!whole || pos == f.size());
}

bool Mac(std::string_view f, bool whole, uint8_t mac[6]) {
  size_t pos = 0;
  return bytes::ParseMacAt(f, pos, ":-", mac) && (!whole || pos == f.size());
}

// "*", or decimal "." decimal and nothing else.
bool Version(std::string_view f, uint32_t& major, uint32_t& minor) {
  if (f == "*") {
    major = minor = 0;
    return true;
  }
  size_t pos = 0;
  uint32_t a = 0, b = 0;
  if (!bytes::ParseDecimal(f, pos, 0xFFFFFFFFu, a)) return false;
  if (pos >= f.size() || f[pos] != '.') return false;
  ++pos;
  if (!bytes::ParseDecimal(f, pos, 0xFFFFFFFFu, b) || pos != f.size()) return false;
  major = a;
  minor = b;
  return true;
}

// The keyword at the start of the field (after blanks when skipBlanks).
bool Mode(std::string_view f, bool skipBlanks, bool& dhcp) {
  size_t i = 0;
  while (skipBlanks && i < f.size() && (f[i] == ' ' || f[i] == '\t')) ++i;
  f = f.substr(i);
  if (f.substr(0, 4) == "DHCP") dhcp = true;
  else if (f.substr(0, 6) == "static") dhcp = false;
  else return false;
  return true;
}

}  // namespace

std::string FormatDeviceLine(const DeviceLine& d) {
  std::string s = d.model;
  s += '|';
  s += bytes::FormatIpv4(d.address);
  s += '|';
  s += bytes::FormatMac(d.mac, ':');
  s += '|';
  if (d.major == 0 && d.minor == 0) s += '*';
  else s += std::to_string(d.major) + "." + std::to_string(d.minor);
  s += d.dhcp ? "|DHCP|" : "|static|";
  s += bytes::FormatIpv4(d.staticAddress);
  s += '|';
  s += bytes::FormatIpv4(d.netmask);
  s += '|';
  s += bytes::FormatIpv4(d.gateway);
  return s;
}

bool ParseDeviceLine(std::string_view line, DeviceLine* out, LineRule rule) {
  std::string_view f[kFields];
  size_t start = 0;
  for (size_t k = 0; k + 1 < kFields; ++k) {
    size_t bar = line.find('|', start);
    if (bar == std::string_view::npos) return false;
    f[k] = line.substr(start, bar - start);
    start = bar + 1;
  }
  f[kFields - 1] = line.substr(start);

  const bool whole = rule == LineRule::Whole;
  DeviceLine d;
  d.model.assign(f[0]);
  if (!Address(f[1], whole, d.address) || !Mac(f[2], whole, d.mac)) return false;
  if (whole && !Version(f[3], d.major, d.minor)) return false;
  if (!Mode(f[4], whole, d.dhcp)) return false;
  if (!Address(f[5], whole, d.staticAddress) || !Address(f[6], whole, d.netmask) ||
      !Address(f[7], whole, d.gateway))
    return false;
  if (out) *out = d;
  return true;
}

}  // namespace qs::kvxr
