// The raw text of the system's ARP cache.
//   Windows: "cmd.exe /C arp.exe -a > " and a new temporary file (prefix "tmp")
//   in double quotes, run hidden; the file is read and then deleted.
//   Linux: the kernel's neighbour table, /proc/net/arp.
// false when nothing could be read; the caller then treats the cache as empty.
#pragma once
#include <cstddef>
#include <string>

namespace qs::plat {

enum class ArpTextFormat { ArpCommand, KernelTable };

constexpr size_t kArpTextMax = 4u << 20;  // a longer listing is cut here

bool ReadArpCacheText(std::string& text, ArpTextFormat& format);

}  // namespace qs::plat
