// Byte and text helpers shared by every wire format and every front end:
// fixed-width integers in either byte order, dotted quads, hexadecimal and MAC
// text. Parsers are strict (whole input, bounded values) and fail closed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::bytes {

inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t GetBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t GetBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Value of one hexadecimal digit, -1 for anything else.
int HexDigit(char c);

// Decimal digits at pos, at most max; an over-long run fails without overflow.
// Advances pos on success.
bool ParseDecimal(std::string_view s, size_t& pos, uint32_t max, uint32_t& out);

// "a.b.c.d" (each 0..255, decimal) of a host-order address.
std::string FormatIpv4(uint32_t address);
// Reads a dotted quad at pos (advances it). Leading zeros are accepted, as
// devices write them; anything beyond 255 fails.
bool ParseIpv4At(std::string_view s, size_t& pos, uint32_t& out);
// The whole text is one dotted quad.
bool ParseIpv4(std::string_view s, uint32_t& out);

// Upper-case hexadecimal of bytes, no separators.
std::string HexText(const uint8_t* p, size_t n);
// Exactly 2*n hexadecimal digits into out[n].
bool ParseHex(std::string_view s, uint8_t* out, size_t n);

// "02-00-00-00-01-30": upper case, with the given separator.
std::string FormatMac(const uint8_t mac[6], char separator = '-');
// Six pairs of hexadecimal digits at pos, each pair after the first preceded
// by one of separators (advances pos).
bool ParseMacAt(std::string_view s, size_t& pos, const char* separators, uint8_t mac[6]);
// The whole text is a MAC written with '-' or ':' (or none at all: 12 digits).
bool ParseMac(std::string_view s, uint8_t mac[6]);

}  // namespace qs::bytes
