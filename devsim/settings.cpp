#include "devsim/settings.h"

#include <cstdio>
#include <cstring>

namespace qs::devsim {

bool ParseUnsigned(const std::string& v, uint64_t max, uint64_t* out) {
  if (v.empty() || v.size() > 12) return false;
  uint64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > max) return false;
  *out = n;
  return true;
}

bool ParseCount(const std::string& v, uint32_t max, uint32_t* out) {
  uint64_t n = 0;
  if (!ParseUnsigned(v, max, &n)) return false;
  *out = static_cast<uint32_t>(n);
  return true;
}

bool ParseSigned(const std::string& v, long min, long max, long* out) {
  bool negative = !v.empty() && v[0] == '-';
  uint64_t n = 0;
  if (!ParseUnsigned(negative ? v.substr(1) : v, 1u << 30, &n)) return false;
  long x = negative ? -static_cast<long>(n) : static_cast<long>(n);
  if (x < min || x > max) return false;
  *out = x;
  return true;
}

bool ParseFlag(const std::string& v, bool* out) {
  if (v == "1" || v == "yes" || v == "on") {
    *out = true;
    return true;
  }
  if (v == "0" || v == "no" || v == "off") {
    *out = false;
    return true;
  }
  return false;
}

bool Printable(const std::string& v, size_t max) {
  if (v.size() > max) return false;
  for (unsigned char c : v)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

std::vector<std::string> SplitComma(const std::string& v) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= v.size()) {
    size_t end = v.find(',', start);
    if (end == std::string::npos) end = v.size();
    if (end > start) out.push_back(v.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string Escaped(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i]; ++i) {
    if (p[i] >= 0x20 && p[i] <= 0x7E && p[i] != '\\') {
      s += static_cast<char>(p[i]);
    } else {
      char b[5];
      std::snprintf(b, sizeof b, "\\x%02X", p[i]);
      s += b;
    }
  }
  return s;
}

int NameIndex(const std::string& name, const char* const* names, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (name == names[i]) return static_cast<int>(i);
  return -1;
}

std::string JoinNames(const char* const* names, size_t count, const char* separator) {
  std::string s;
  for (size_t i = 0; i < count; ++i) s += (i ? separator : "") + std::string(names[i]);
  return s;
}

}  // namespace qs::devsim
