#include "library/network_config.h"

#include <cstring>

namespace qs::kvxr {

namespace {

class Cursor {
 public:
  explicit Cursor(const KVxR_WCHAR* p) : p_(p) {}
  void SkipBlanks() {
    while (*p_ == ' ' || *p_ == '\t') ++p_;
  }
  bool Take(char c) {
    if (*p_ != static_cast<KVxR_WCHAR>(c)) return false;
    ++p_;
    return true;
  }
  bool TakeWord(const char* w) {
    size_t n = 0;
    for (; w[n]; ++n)
      if (p_[n] != static_cast<KVxR_WCHAR>(w[n])) return false;  // a NUL in the text stops here too
    p_ += n;
    return true;
  }
  // One run of 1 or more digits worth at most 255.
  bool Octet(uint32_t* v) {
    uint32_t x = 0;
    size_t n = 0;
    while (*p_ >= '0' && *p_ <= '9') {
      x = x * 10 + static_cast<uint32_t>(*p_ - '0');
      if (x > 255) return false;
      ++p_;
      ++n;
    }
    if (n == 0) return false;
    *v = x;
    return true;
  }

 private:
  const KVxR_WCHAR* p_;
};

// Optional blanks, then four octets joined by single dots.
bool Quad(Cursor& c, uint32_t* out) {
  c.SkipBlanks();
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t o = 0;
    if (i > 0 && !c.Take('.')) return false;
    if (!c.Octet(&o)) return false;
    v = (v << 8) | o;
  }
  *out = v;
  return true;
}

// "*" or a dotted quad.
int32_t Field(Cursor& c, uint32_t* value, uint8_t* present) {
  c.SkipBlanks();
  if (c.Take('*')) {
    *present = 0;
    return 0;
  }
  if (!Quad(c, value)) return kCfgBadAddress;
  *present = 1;
  return 0;
}

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint32_t GetBe32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

int32_t ParseNetworkText(const KVxR_WCHAR* text, NetworkSettings* out) {
  if (!text) return kCfgBadKeyword;
  NetworkSettings s;
  Cursor c(text);
  c.SkipBlanks();
  if (c.TakeWord("DHCP")) s.dhcp = 1;
  else if (c.TakeWord("static")) s.dhcp = 0;
  else return kCfgBadKeyword;
  struct {
    uint32_t* value;
    uint8_t* present;
  } fields[] = {{&s.address, &s.addressPresent}, {&s.netmask, &s.netmaskPresent}, {&s.gateway, &s.gatewayPresent}};
  for (auto& f : fields) {
    c.SkipBlanks();
    if (!c.Take('|')) return kCfgNoSeparator;
    int32_t st = Field(c, f.value, f.present);
    if (st != 0) return st;
  }
  // whatever follows the gateway is not read
  *out = s;
  return 0;
}

bool CurrentFromAnnounce(const uint8_t* p, size_t len, CurrentDevice* out) {
  if (!p || len < kAnnounceMinPayload) return false;
  CurrentDevice d;
  std::memcpy(d.hardwareId, p, kHwIdSize);
  d.address = GetBe32(p + 16);
  std::memcpy(d.mac, p + 20, 6);
  d.staticAddress = GetBe32(p + 27);
  d.netmask = GetBe32(p + 31);
  d.gateway = GetBe32(p + 35);
  std::memcpy(d.modelCode, p + 39, 8);
  std::memcpy(d.serial, p + 47, 24);
  // the text field reaches byte 110; a shorter announce leaves its end empty
  size_t textLen = len > 71 ? (len - 71 < 40 ? len - 71 : 40) : 0;
  std::memcpy(d.text, p + 71, textLen);
  *out = d;
  return true;
}

std::vector<uint8_t> SetConfigPayload(const NetworkSettings& s, const CurrentDevice& d) {
  std::vector<uint8_t> p(108, 0);
  std::memcpy(p.data(), d.hardwareId, kHwIdSize);
  std::memcpy(p.data() + 16, d.mac, 6);
  const bool dhcp = (s.dhcp & 0xFF) != 0;
  p[22] = dhcp ? 1 : 0;
  p[23] = s.operationModePresent ? s.operationMode : d.operationMode;
  uint32_t a, m, g;
  if (dhcp) {
    a = d.address;  // what was given is not used
    m = d.netmask;
    g = d.gateway;
  } else {
    a = s.addressPresent ? s.address : d.staticAddress;
    m = s.netmaskPresent ? s.netmask : d.netmask;
    g = s.gatewayPresent ? s.gateway : d.gateway;
  }
  PutBe32(p.data() + 24, a);
  PutBe32(p.data() + 28, m);
  PutBe32(p.data() + 32, g);
  // model code up to its NUL, at most 8; the rest NUL
  for (size_t i = 0; i < 8 && d.modelCode[i]; ++i) p[36 + i] = d.modelCode[i];
  for (size_t i = 0; i < 24 && d.serial[i]; ++i) p[44 + i] = d.serial[i];
  std::memcpy(p.data() + 68, d.text, 40);
  return p;
}

}  // namespace qs::kvxr
