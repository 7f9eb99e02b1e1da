// Intel HEX reader: data (0), end of file (1), extended segment (2) and
// linear (4) address records, start addresses (3, 5) read and dropped.
#pragma once
#include <string>
#include <string_view>

#include "firmware/byte_source.h"
#include "firmware/hex_record.h"
#include "firmware/image_base.h"

namespace qs::fw {

class IntellecHex : public ReaderImage<IntellecHex> {
 public:
  using ReaderImage::ReaderImage;

  // One line (without terminator) into rec; false rejects the line.
  static bool ParseLine(std::string_view line, HexRecord& rec);

 private:
  bool Read(ByteSource& src, ImageBuilder& builder) override;
};

}  // namespace qs::fw
