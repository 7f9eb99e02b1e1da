#include "discovery/text_fields.h"

#include <cstring>

namespace qs::disc {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseDecimal(std::string_view s, size_t& pos, uint32_t max, uint32_t& out) {
  size_t i = pos;
  uint64_t v = 0;
  bool over = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    // Keep consuming an over-long run, but never let the value grow unbounded.
    if (!over) {
      v = v * 10 + static_cast<uint32_t>(s[i] - '0');
      if (v > max) over = true;
    }
    ++i;
  }
  if (i == pos || over) return false;
  out = static_cast<uint32_t>(v);
  pos = i;
  return true;
}

bool ParseDottedQuad(std::string_view s, size_t& pos, uint32_t& out) {
  size_t i = pos;
  uint32_t a = 0;
  for (int k = 0; k < 4; ++k) {
    if (k > 0) {
      if (i >= s.size() || s[i] != '.') return false;
      ++i;
    }
    uint32_t octet = 0;
    if (!ParseDecimal(s, i, 255, octet)) return false;
    a = (a << 8) | octet;
  }
  out = a;
  pos = i;
  return true;
}

bool ParseMacText(std::string_view s, size_t& pos, const char* separators, uint8_t mac[6]) {
  size_t i = pos;
  uint8_t m[6];
  for (int k = 0; k < 6; ++k) {
    if (k > 0) {
      if (i >= s.size() || !std::strchr(separators, s[i]) || s[i] == '\0') return false;
      ++i;
    }
    if (i + 2 > s.size()) return false;
    int hi = HexValue(s[i]), lo = HexValue(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    m[k] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  std::memcpy(mac, m, 6);
  pos = i;
  return true;
}

}  // namespace qs::disc
