#include "firmware/intellec_hex.h"

#include <cstring>

#include "firmware/hex_line_reader.h"
#include "firmware/hex_pairs.h"
#include "runtime/bytes.h"

namespace qs::fw {

namespace {
constexpr size_t kMaxLineBytes = 260;  // count, address (2), type, 255 data, checksum
}

bool IntellecHex::ParseLine(std::string_view line, HexRecord& rec) {
  if (line.size() < 2 || line[0] != ':') return false;
  uint8_t b[kMaxLineBytes];
  int n = DecodeHexPairs(line.substr(1), b, sizeof b);
  if (n < 5) return false;
  uint8_t sum = 0;
  for (int i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  if (sum != 0) return false;
  uint32_t count = b[0];
  if (static_cast<uint32_t>(n) != count + 5) return false;
  uint32_t type = b[3];
  rec.kind = static_cast<int32_t>(type);
  rec.length = 0;
  switch (type) {
    case 0:
      rec.value = bytes::GetBe16(b + 1);
      rec.length = count;
      std::memcpy(rec.data, b + 4, count);
      return true;
    case 1:
      rec.value = 0;
      return true;
    case 2:
    case 4:
      if (count < 2) return false;  // no base in the record
      rec.value = static_cast<uint32_t>(bytes::GetBe16(b + 4)) << (type == 2 ? 4 : 16);
      return true;
    case 3:
    case 5:
      if (count < 4) return false;
      rec.value = bytes::GetBe32(b + 4);
      return true;
    default:
      return false;
  }
}

bool IntellecHex::Read(ByteSource& src, ImageBuilder& builder) {
  HexLineReader lines(src);
  HexRecord rec;
  uint32_t base = 0;
  std::string_view line;
  while (lines.Next(line)) {
    if (!ParseLine(line, rec)) return false;
    switch (rec.kind) {
      case 0:
        // base + 16-bit address cannot wrap; the record's end is checked by Add.
        if (!builder.Add(base + rec.value, rec.data, rec.length)) return false;
        break;
      case 1:
        return true;
      case 2:
      case 4:
        base = rec.value;
        break;
      default:
        break;  // start addresses mean nothing to an image
    }
  }
  return false;  // the text ended before the end-of-file record
}

}  // namespace qs::fw
