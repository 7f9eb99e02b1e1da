// Lines of a hex text through one fixed 16384-byte buffer; the file is never
// held whole. A line is taken only once its terminator (CR, LF or NUL) has
// been read, a NUL ends the text, and so does a line that does not fit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "firmware/byte_source.h"

namespace qs::fw {

class HexLineReader {
 public:
  static constexpr size_t kBufferSize = 0x4000;

  explicit HexLineReader(ByteSource& src) : src_(src) {}
  HexLineReader(const HexLineReader&) = delete;
  HexLineReader& operator=(const HexLineReader&) = delete;

  // The next line without its terminator, valid until the next call; false
  // when the text has ended.
  bool Next(std::string_view& line);

 private:
  // Moves the unread tail to the front and fills the free space; false when
  // nothing more could be read.
  bool Refill();
  bool FindTerminator(size_t& at) const;

  ByteSource& src_;
  uint8_t buf_[kBufferSize];
  size_t pos_ = 0;
  size_t end_ = 0;
  bool atEnd_ = false;
};

}  // namespace qs::fw
