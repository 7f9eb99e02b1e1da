// Intel HEX reader: data (0), end of file (1), extended segment (2) and
// linear (4) address records, start addresses (3, 5) read and dropped.
#pragma once
#include <string>
#include <string_view>

#include "firmware/byte_source.h"
#include "firmware/hex_record.h"
#include "firmware/image_base.h"

namespace qs::fw {

class IntellecHex : public ImageBase {
 public:
  class Chunk : public ChunkBase {
   public:
    using ChunkBase::ChunkBase;
  };

  explicit IntellecHex(const std::u16string& path) : ImageBase(path) {}

  // A new image with one reference for the caller, or null.
  static IBinaryImage* Load(const std::u16string& path);
  static IBinaryImage* LoadFrom(ByteSource& src, const std::u16string& path, size_t limit = kMaxImageBytes);

  // One line (without terminator) into rec; false rejects the line.
  static bool ParseLine(std::string_view line, HexRecord& rec);

 private:
  bool Read(ByteSource& src, ImageBuilder& builder) override;
};

}  // namespace qs::fw
