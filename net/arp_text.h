// The two textual forms of the system's ARP cache.
//
// Output of "arp.exe -a" (Windows), one entry per line; other lines
// (interface headings, column titles, blank lines) are ignored:
//   blanks, a dotted quad (four decimal numbers of at most 255, at least one
//   digit each, single "." between), then a space, punctuation or control
//   character or the line's end; blanks; a MAC of six pairs of hexadecimal
//   digits (either case) joined by "-", then again a space, punctuation or
//   control character or the line's end; anything after that is not read.
//   Example: "  192.168.1.20          00-11-22-33-44-55     dynamic"
// "Blanks" are spaces and tabs; lines end at LF or CR; a line longer than
// 8191 characters is ignored as a whole.
//
// The kernel's neighbour table as /proc/net/arp shows it (Linux):
//   IP address       HW type     Flags       HW address            Mask     Device
//   192.168.1.20     0x1         0x2         00:11:22:33:44:55     *        eth0
// Only complete Ethernet entries count: type 0x1 and the flag bit 0x2 set
// (an incomplete entry has no MAC yet).
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

namespace qs::net {

struct ArpEntry {
  uint32_t address = 0;  // host order
  uint8_t mac[6] = {};
};

constexpr size_t kArpMaxLine = 8191;

bool ParseArpCommandLine(std::string_view line, ArpEntry& out);
// Entries in the order of the lines.
std::vector<ArpEntry> ParseArpCommandOutput(std::string_view text);

bool ParseKernelArpLine(std::string_view line, ArpEntry& out);
std::vector<ArpEntry> ParseKernelArpTable(std::string_view text);

}  // namespace qs::net
