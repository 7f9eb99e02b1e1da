#include "discovery/device_line.h"

#include "discovery/text_fields.h"

namespace qs::disc {

namespace {

constexpr size_t kFields = 8;

std::string_view SkipBlanks(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

// The whole field must be the address.
bool WholeQuad(std::string_view f, uint32_t& out) {
  size_t pos = 0;
  return ParseDottedQuad(f, pos, out) && pos == f.size();
}

bool Version(std::string_view f, VersionPair& out) {
  if (f == "*") {
    out = VersionPair{};
    return true;
  }
  size_t pos = 0;
  VersionPair v;
  if (!ParseDecimal(f, pos, 0xFFFFFFFFu, v.major)) return false;
  if (pos >= f.size() || f[pos] != '.') return false;
  ++pos;
  if (!ParseDecimal(f, pos, 0xFFFFFFFFu, v.minor) || pos != f.size()) return false;
  out = v;
  return true;
}

}  // namespace

bool ParseDeviceLine(std::string_view line, DeviceLine* out) {
  std::string_view f[kFields];
  size_t start = 0;
  for (size_t k = 0; k < kFields; ++k) {
    if (k == kFields - 1) {
      f[k] = line.substr(start);
      break;
    }
    size_t bar = line.find('|', start);
    if (bar == std::string_view::npos) return false;
    f[k] = line.substr(start, bar - start);
    start = bar + 1;
  }
  DeviceLine d;
  d.row = FindModelByName(f[0]);
  if (!d.row) return false;
  if (!WholeQuad(f[1], d.currentAddress)) return false;
  size_t pos = 0;
  if (!ParseMacText(f[2], pos, ":-", d.mac) || pos != f[2].size()) return false;
  if (!Version(f[3], d.version)) return false;
  std::string_view mode = SkipBlanks(f[4]);
  if (mode.substr(0, 4) == "DHCP") d.dhcp = true;
  else if (mode.substr(0, 6) == "static") d.dhcp = false;
  else return false;
  if (!WholeQuad(f[5], d.staticAddress) || !WholeQuad(f[6], d.netmask) || !WholeQuad(f[7], d.gateway)) return false;
  if (out) *out = d;
  return true;
}

}  // namespace qs::disc
