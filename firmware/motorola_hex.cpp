#include "firmware/motorola_hex.h"

#include <cstring>

#include "firmware/hex_line_reader.h"
#include "firmware/hex_pairs.h"

namespace qs::fw {

namespace {
constexpr size_t kMaxLineBytes = 256;  // count plus 255

uint32_t BigEndian(const uint8_t* p, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) v = v << 8 | p[i];
  return v;
}
}  // namespace

bool MotorolaHex::ParseLine(std::string_view line, HexRecord& rec) {
  if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') return false;
  uint8_t b[kMaxLineBytes];
  int n = DecodeHexPairs(line.substr(2), b, sizeof b);
  if (n < 1) return false;
  uint8_t sum = 0;
  for (int i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  if (sum != 0xFF) return false;
  uint32_t count = b[0];
  if (static_cast<uint32_t>(n) != count + 1) return false;
  int digit = line[1] - '0';
  rec.kind = digit;
  rec.length = 0;
  int width = 0;  // address bytes
  switch (digit) {
    case 0:
    case 1:
      width = 2;
      break;
    case 2:
      width = 3;
      break;
    case 3:
      width = 4;
      break;
    case 5:
    case 6:
      // record count: exactly the 16- or 24-bit count and the checksum
      width = digit - 3;
      if (n != width + 2) return false;
      rec.value = BigEndian(b + 1, width);
      return true;
    case 7:
    case 8:
    case 9:
      // termination: exactly the address and the checksum
      width = 11 - digit;
      if (n != width + 2) return false;
      rec.value = BigEndian(b + 1, width);
      return true;
    default:
      return false;
  }
  // A count below address plus checksum would leave a negative data length.
  if (count < static_cast<uint32_t>(width) + 1) return false;
  rec.value = BigEndian(b + 1, width);
  rec.length = count - static_cast<uint32_t>(width) - 1;
  std::memcpy(rec.data, b + 1 + width, rec.length);
  return true;
}

bool MotorolaHex::Read(ByteSource& src, ImageBuilder& builder) {
  HexLineReader lines(src);
  HexRecord rec;
  std::string_view line;
  uint32_t dataRecords = 0;
  while (lines.Next(line)) {
    if (!ParseLine(line, rec)) return false;
    switch (rec.kind) {
      case 1:
      case 2:
      case 3:
        if (!builder.Add(rec.value, rec.data, rec.length)) return false;
        ++dataRecords;
        break;
      case 5:
      case 6:
        // Common tools write these before the termination record; a count
        // that disagrees means lost or extra lines.
        if (rec.value != (dataRecords & (rec.kind == 5 ? 0xFFFFu : 0xFFFFFFu))) return false;
        break;
      case 7:
      case 8:
      case 9:
        return true;
      default:
        break;  // S0: checked above, content not used
    }
  }
  return false;  // no termination record
}

}  // namespace qs::fw
