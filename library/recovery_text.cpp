#include "library/recovery_text.h"

#include <cstdio>

#include "runtime/bytes.h"

namespace qs::kvxr {

namespace {

// One decimal number 0-255 without a leading zero, advancing i.
bool Octet(const char* t, size_t n, size_t& i, uint32_t& out) {
  const size_t start = i;
  uint32_t v = 0;
  while (i < n && t[i] >= '0' && t[i] <= '9' && i - start < 3) v = v * 10 + static_cast<uint32_t>(t[i++] - '0');
  const size_t digits = i - start;
  if (digits == 0 || v > 255 || (digits > 1 && t[start] == '0')) return false;
  if (i < n && t[i] >= '0' && t[i] <= '9') return false;
  out = v;
  return true;
}

}  // namespace

std::string FormatRecoveryText(uint32_t address, const uint8_t mac[6]) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u|%02X:%02X:%02X:%02X:%02X:%02X", (address >> 24) & 255u,
                (address >> 16) & 255u, (address >> 8) & 255u, address & 255u, mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return buf;
}

bool ParseRecoveryText(const char* t, size_t n, uint32_t* address, uint8_t mac[6]) {
  if (!t || n > kRecoveryTextMax) return false;
  size_t i = 0;
  uint32_t a = 0;
  for (int k = 0; k < 4; ++k) {
    uint32_t o = 0;
    if (!Octet(t, n, i, o)) return false;
    a = a << 8 | o;
    if (k < 3 && (i >= n || t[i++] != '.')) return false;
  }
  if (i >= n || t[i++] != '|') return false;
  uint8_t m[6];
  for (int k = 0; k < 6; ++k) {
    if (n - i < 2) return false;
    const int hi = bytes::HexDigit(t[i]), lo = bytes::HexDigit(t[i + 1]);
    if (hi < 0 || lo < 0) return false;
    m[k] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
    if (k < 5 && (i >= n || t[i++] != ':')) return false;
  }
  if (i != n) return false;
  *address = a;
  for (int k = 0; k < 6; ++k) mac[k] = m[k];
  return true;
}

}  // namespace qs::kvxr
