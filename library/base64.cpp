#include "library/base64.h"

namespace qs::kvxr {

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string Base64Encode(const uint8_t* d, size_t len) {
  std::string s;
  s.reserve((len + 2) / 3 * 4);
  for (size_t i = 0; i < len; i += 3) {
    uint32_t v = uint32_t(d[i]) << 16;
    if (i + 1 < len) v |= uint32_t(d[i + 1]) << 8;
    if (i + 2 < len) v |= d[i + 2];
    s.push_back(kAlphabet[(v >> 18) & 63]);
    s.push_back(kAlphabet[(v >> 12) & 63]);
    s.push_back(i + 1 < len ? kAlphabet[(v >> 6) & 63] : '=');
    s.push_back(i + 2 < len ? kAlphabet[v & 63] : '=');
  }
  return s;
}

bool Base64Decode(const std::string& t, std::vector<uint8_t>* out) {
  out->clear();
  if (t.size() % 4 != 0) return false;
  for (size_t i = 0; i < t.size(); i += 4) {
    const bool last = i + 4 == t.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = t[i + k];
      if (c == '=') {
        // padding: only in the last group, only in its last two places, and
        // nothing but padding after it
        if (!last || k < 2) return false;
        ++pad;
        v[k] = 0;
        continue;
      }
      if (pad) return false;
      v[k] = Value(c);
      if (v[k] < 0) return false;
    }
    uint32_t x = (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
    out->push_back(static_cast<uint8_t>(x >> 16));
    if (pad < 2) out->push_back(static_cast<uint8_t>(x >> 8));
    if (pad < 1) out->push_back(static_cast<uint8_t>(x));
  }
  return true;
}

}  // namespace qs::kvxr
