#include "platform/file.h"

namespace qs::plat {

ReadResult ReadWholeFile(const std::u16string& path, size_t maxBytes, std::vector<uint8_t>& out) {
  out.clear();
  File f;
  if (!f.OpenRead(path)) return FileExists(path) ? ReadResult::Error : ReadResult::NotFound;
  long long size = f.Size();
  if (size < 0) return ReadResult::Error;
  if (static_cast<unsigned long long>(size) > maxBytes) return ReadResult::TooLarge;
  out.resize(static_cast<size_t>(size));
  size_t got = 0;
  while (got < out.size()) {
    long long n = f.Read(out.data() + got, out.size() - got);
    if (n < 0) return ReadResult::Error;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return ReadResult::Ok;
}

}  // namespace qs::plat
