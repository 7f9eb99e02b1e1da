#include "firmware/byte_source.h"

#include <cstring>

namespace qs::fw {

long long MemoryByteSource::Read(void* buf, size_t len) {
  size_t n = len < left_ ? len : left_;
  if (n) std::memcpy(buf, p_, n);
  p_ += n;
  left_ -= n;
  return static_cast<long long>(n);
}

}  // namespace qs::fw
