// Motorola S-record reader: S0 header (checked, ignored), S1/S2/S3 data with
// 16/24/32-bit addresses, S7/S8/S9 termination. Count records (S5, S6) are
// checked against the data records before them; S4 is refused. A file
// without termination record does not load, whatever its count records say.
#pragma once
#include <string>
#include <string_view>

#include "firmware/byte_source.h"
#include "firmware/hex_record.h"
#include "firmware/image_base.h"

namespace qs::fw {

class MotorolaHex : public ReaderImage<MotorolaHex> {
 public:
  using ReaderImage::ReaderImage;

  // One line (without terminator) into rec; false rejects the line.
  static bool ParseLine(std::string_view line, HexRecord& rec);

 private:
  bool Read(ByteSource& src, ImageBuilder& builder) override;
};

}  // namespace qs::fw
