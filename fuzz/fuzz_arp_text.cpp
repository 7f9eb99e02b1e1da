// Both ARP texts over arbitrary bytes: every entry found reads back the same
// when written out again in its own form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "net/arp_text.h"
#include "runtime/bytes.h"

using namespace qs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const net::ArpEntry& e : net::ParseArpCommandOutput(text)) {
    net::ArpEntry again;
    const std::string line = bytes::FormatIpv4(e.address) + " " + bytes::FormatMac(e.mac, '-') + " dynamic";
    if (!net::ParseArpCommandLine(line, again) || again.address != e.address || std::memcmp(again.mac, e.mac, 6))
      std::abort();
  }
  for (const net::ArpEntry& e : net::ParseKernelArpTable(text)) {
    net::ArpEntry again;
    const std::string line = bytes::FormatIpv4(e.address) + " 0x1 0x2 " + bytes::FormatMac(e.mac, ':') + " * eth0";
    if (!net::ParseKernelArpLine(line, again) || again.address != e.address || std::memcmp(again.mac, e.mac, 6))
      std::abort();
  }
  return 0;
}
