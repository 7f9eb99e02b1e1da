#include "firmware/hex_line_reader.h"

#include <cstring>

namespace qs::fw {

bool HexLineReader::Refill() {
  if (pos_ > 0) {
    std::memmove(buf_, buf_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  bool got = false;
  while (!atEnd_ && end_ < kBufferSize) {
    long long n = src_.Read(buf_ + end_, kBufferSize - end_);
    if (n <= 0) {
      atEnd_ = true;  // end of file or a read error: either way no more text
      break;
    }
    end_ += static_cast<size_t>(n);
    got = true;
  }
  return got;
}

bool HexLineReader::FindTerminator(size_t& at) const {
  for (size_t i = pos_; i < end_; ++i) {
    uint8_t c = buf_[i];
    if (c == '\r' || c == '\n' || c == 0) {
      at = i;
      return true;
    }
  }
  return false;
}

bool HexLineReader::Next(std::string_view& line) {
  // Line ends are skipped across refills, so a CR LF split by the buffer edge
  // is not taken for an empty line.
  for (;;) {
    while (pos_ < end_ && (buf_[pos_] == '\r' || buf_[pos_] == '\n')) ++pos_;
    if (pos_ < end_) break;
    if (!Refill()) return false;
  }
  size_t at = 0;
  if (!FindTerminator(at)) {
    if (!Refill() || !FindTerminator(at)) return false;
  }
  if (at == pos_) return false;  // a NUL: the text ends here
  line = std::string_view(reinterpret_cast<const char*>(buf_ + pos_), at - pos_);
  pos_ = at;
  return true;
}

}  // namespace qs::fw
