#include "runtime/bytes.h"

#include <cstdio>
#include <cstring>

namespace qs::bytes {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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

std::string FormatIpv4(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (a >> 24) & 255u, (a >> 16) & 255u, (a >> 8) & 255u, a & 255u);
  return buf;
}

bool ParseIpv4At(std::string_view s, size_t& pos, uint32_t& out) {
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

bool ParseIpv4(std::string_view s, uint32_t& out) {
  size_t pos = 0;
  uint32_t v = 0;
  if (!ParseIpv4At(s, pos, v) || pos != s.size()) return false;
  out = v;
  return true;
}

std::string HexText(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

bool ParseHex(std::string_view s, uint8_t* out, size_t n) {
  if (s.size() != 2 * n) return false;
  for (size_t i = 0; i < n; ++i) {
    int hi = HexDigit(s[2 * i]), lo = HexDigit(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

std::string FormatMac(const uint8_t mac[6], char separator) {
  std::string s = HexText(mac, 1);
  for (int i = 1; i < 6; ++i) {
    s += separator;
    s += HexText(mac + i, 1);
  }
  return s;
}

bool ParseMacAt(std::string_view s, size_t& pos, const char* separators, uint8_t mac[6]) {
  size_t i = pos;
  uint8_t m[6];
  for (int k = 0; k < 6; ++k) {
    if (k > 0) {
      if (i >= s.size() || s[i] == '\0' || !std::strchr(separators, s[i])) return false;
      ++i;
    }
    if (i + 2 > s.size()) return false;
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    m[k] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  std::memcpy(mac, m, 6);
  pos = i;
  return true;
}

bool ParseMac(std::string_view s, uint8_t mac[6]) {
  if (s.size() == 12) return ParseHex(s, mac, 6);
  size_t pos = 0;
  uint8_t m[6];
  if (s.size() != 17 || !ParseMacAt(s, pos, s[2] == ':' ? ":" : "-", m) || pos != s.size()) return false;
  std::memcpy(mac, m, 6);
  return true;
}

}  // namespace qs::bytes
