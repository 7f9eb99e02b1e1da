#include "library/version_reply.h"

#include <cstring>
#include <string>
#include <string_view>

#include "runtime/bytes.h"

namespace qs::kvxr {

namespace {
constexpr char kMarker[] = "\x02Version:";
constexpr size_t kMarkerSize = sizeof kMarker - 1;
}  // namespace

bool DecodeVersionReply(const uint8_t* d, size_t len, uint32_t* major, uint32_t* minor) {
  if (!d || len < kMarkerSize || std::memcmp(d, kMarker, kMarkerSize) != 0) return false;
  std::string_view s(reinterpret_cast<const char*>(d) + kMarkerSize, len - kMarkerSize);
  size_t pos = 0;
  uint32_t a = 0, b = 0;
  if (!bytes::ParseDecimal(s, pos, 0xFFFFFFFFu, a)) return false;
  if (pos >= s.size() || s[pos] != '.') return false;
  ++pos;
  if (!bytes::ParseDecimal(s, pos, 0xFFFFFFFFu, b)) return false;
  *major = a;
  *minor = b;
  return true;
}

std::vector<uint8_t> EncodeVersionReply(uint32_t major, uint32_t minor) {
  std::string s = kMarker + std::to_string(major) + "." + std::to_string(minor);
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace qs::kvxr
