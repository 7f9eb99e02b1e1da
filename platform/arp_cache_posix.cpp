#include "platform/arp_cache.h"

#include <vector>

#include "platform/file.h"

namespace qs::plat {

bool ReadArpCacheText(std::string& text, ArpTextFormat& format) {
  text.clear();
  format = ArpTextFormat::KernelTable;
  File f;
  if (!f.OpenRead(u"/proc/net/arp")) return false;
  // The kernel reports the size of its tables as 0: read to the end.
  std::vector<char> buf(65536);
  for (;;) {
    const long long n = f.Read(buf.data(), buf.size());
    if (n < 0) return false;
    if (n == 0) break;
    text.append(buf.data(), static_cast<size_t>(n));
    if (text.size() >= kArpTextMax) {
      text.resize(kArpTextMax);
      break;
    }
  }
  return true;
}

}  // namespace qs::plat
