#include "library/network_config.h"

#include <cstring>
#include <string>

#include "runtime/bytes.h"

namespace qs::kvxr {

namespace {

// The text from p to its end, one byte per character; a character beyond
// ASCII becomes one that no rule accepts. Read no further than any sane
// settings text reaches.
std::string Narrow(const KVxR_WCHAR* p) {
  constexpr size_t kMax = 65536;
  std::string s;
  for (size_t i = 0; i < kMax && p[i]; ++i) s.push_back(p[i] < 0x80 ? static_cast<char>(p[i]) : '\x7F');
  return s;
}

void SkipBlanks(const std::string& s, size_t& pos) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

bool Take(const std::string& s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

bool TakeWord(const std::string& s, size_t& pos, const char* w) {
  size_t n = std::strlen(w);
  if (s.compare(pos, n, w) != 0) return false;
  pos += n;
  return true;
}

// Blanks, then "*" (not present) or a dotted quad.
int32_t Field(const std::string& s, size_t& pos, uint32_t* value, uint8_t* present) {
  SkipBlanks(s, pos);
  if (Take(s, pos, '*')) {
    *present = 0;
    return KVXR_OK;
  }
  SkipBlanks(s, pos);
  if (!bytes::ParseIpv4At(s, pos, *value)) return KVXR_BAD_ADDRESS;
  *present = 1;
  return KVXR_OK;
}

}  // namespace

int32_t ParseNetworkText(const KVxR_WCHAR* text, NetworkSettings* out) {
  if (!text) return KVXR_BAD_KEYWORD;
  const std::string s = Narrow(text);
  size_t pos = 0;
  NetworkSettings n;
  SkipBlanks(s, pos);
  if (TakeWord(s, pos, "DHCP")) n.dhcp = 1;
  else if (TakeWord(s, pos, "static")) n.dhcp = 0;
  else return KVXR_BAD_KEYWORD;
  struct {
    uint32_t* value;
    uint8_t* present;
  } fields[] = {{&n.address, &n.addressPresent}, {&n.netmask, &n.netmaskPresent}, {&n.gateway, &n.gatewayPresent}};
  for (auto& f : fields) {
    SkipBlanks(s, pos);
    if (!Take(s, pos, '|')) return KVXR_NO_SEPARATOR;
    int32_t st = Field(s, pos, f.value, f.present);
    if (st != KVXR_OK) return st;
  }
  // whatever follows the gateway is not read
  *out = n;
  return KVXR_OK;
}

SetConfigRequest MergeSettings(const NetworkSettings& s, const CurrentDevice& d) {
  const disc::Announce& a = d.announce;
  SetConfigRequest r;
  std::memcpy(r.hardwareId, a.hardwareId, sizeof r.hardwareId);
  std::memcpy(r.mac, a.mac, sizeof r.mac);
  r.dhcp = (s.dhcp & 0xFF) != 0;
  r.operationMode = s.operationModePresent ? s.operationMode : d.operationMode;
  if (r.dhcp) {
    r.staticAddress = a.address;  // what was given is not used
    r.netmask = a.netmask;
    r.gateway = a.gateway;
  } else {
    r.staticAddress = s.addressPresent ? s.address : a.staticAddress;
    r.netmask = s.netmaskPresent ? s.netmask : a.netmask;
    r.gateway = s.gatewayPresent ? s.gateway : a.gateway;
  }
  std::memcpy(r.modelCode, a.modelCode, sizeof r.modelCode);
  std::memcpy(r.serial, a.serial, sizeof r.serial);
  std::memcpy(r.text, a.text, sizeof r.text);
  return r;
}

}  // namespace qs::kvxr
