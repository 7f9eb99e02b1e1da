#include "firmware/hex_pairs.h"

#include <array>

namespace qs::fw {

namespace {
constexpr uint8_t kBad = 0xFF;

constexpr std::array<uint8_t, 256> MakeTable() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kBad;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<uint8_t>(c - 'a' + 10);
  return t;
}
constexpr std::array<uint8_t, 256> kDigit = MakeTable();
}  // namespace

int DecodeHexPairs(std::string_view digits, uint8_t* out, size_t capacity) {
  if (digits.size() % 2 != 0 || digits.size() / 2 > capacity) return -1;
  size_t n = digits.size() / 2;
  const auto* p = reinterpret_cast<const unsigned char*>(digits.data());
  for (size_t i = 0; i < n; ++i) {
    uint8_t hi = kDigit[p[2 * i]];
    uint8_t lo = kDigit[p[2 * i + 1]];
    if ((hi | lo) & 0xF0) return -1;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return static_cast<int>(n);
}

}  // namespace qs::fw
