#include "firmware/byte_source.h"

#include <cstring>

namespace qs::fw {

bool FileByteSource::Open(const std::u16string& path) {
  path_ = path;
  return file_.OpenRead(path);
}

bool FileByteSource::Rewind() {
  file_.Close();
  return file_.OpenRead(path_);
}

long long MemoryByteSource::Read(void* buf, size_t len) {
  size_t n = len < left_ ? len : left_;
  if (n) std::memcpy(buf, p_, n);
  p_ += n;
  left_ -= n;
  return static_cast<long long>(n);
}

bool MemoryByteSource::Rewind() {
  p_ = begin_;
  left_ = size_;
  return true;
}

}  // namespace qs::fw
