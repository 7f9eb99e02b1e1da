#include "net/arp_text.h"

#include "runtime/bytes.h"

namespace qs::net {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A space, an ASCII punctuation or control character, or the end.
bool Ends(std::string_view s, size_t pos) {
  if (pos >= s.size()) return true;
  const unsigned char c = static_cast<unsigned char>(s[pos]);
  if (c < 0x20 || c == 0x7F || c == ' ') return true;
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

void SkipBlanks(std::string_view s, size_t& pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
}

// Strictly blanks, then a run of non-blank characters.
std::string_view Word(std::string_view s, size_t& pos) {
  SkipBlanks(s, pos);
  const size_t start = pos;
  while (pos < s.size() && !IsBlank(s[pos])) ++pos;
  return s.substr(start, pos - start);
}

// "0x" and one to eight hexadecimal digits.
bool HexWord(std::string_view w, uint32_t& out) {
  if (w.size() < 3 || w.size() > 10 || w[0] != '0' || (w[1] != 'x' && w[1] != 'X')) return false;
  uint32_t v = 0;
  for (size_t i = 2; i < w.size(); ++i) {
    const int d = bytes::HexDigit(w[i]);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  out = v;
  return true;
}

template <typename LineFn>
std::vector<ArpEntry> EachLine(std::string_view text, LineFn parse) {
  std::vector<ArpEntry> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = i;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    ArpEntry e;
    if (end - i <= kArpMaxLine && parse(text.substr(i, end - i), e)) out.push_back(e);
    i = end + 1;
  }
  return out;
}

}  // namespace

bool ParseArpCommandLine(std::string_view line, ArpEntry& out) {
  size_t pos = 0;
  SkipBlanks(line, pos);
  uint32_t address = 0;
  if (!bytes::ParseIpv4At(line, pos, address) || !Ends(line, pos)) return false;
  SkipBlanks(line, pos);
  uint8_t mac[6];
  if (!bytes::ParseMacAt(line, pos, "-", mac) || !Ends(line, pos)) return false;
  out.address = address;
  for (int k = 0; k < 6; ++k) out.mac[k] = mac[k];
  return true;
}

std::vector<ArpEntry> ParseArpCommandOutput(std::string_view text) { return EachLine(text, ParseArpCommandLine); }

bool ParseKernelArpLine(std::string_view line, ArpEntry& out) {
  size_t pos = 0;
  uint32_t address = 0, type = 0, flags = 0;
  if (!bytes::ParseIpv4(Word(line, pos), address)) return false;
  if (!HexWord(Word(line, pos), type) || !HexWord(Word(line, pos), flags)) return false;
  if (type != 0x1 || (flags & 0x2) == 0) return false;
  const std::string_view macWord = Word(line, pos);
  size_t m = 0;
  uint8_t mac[6];
  if (!bytes::ParseMacAt(macWord, m, ":", mac) || m != macWord.size()) return false;
  out.address = address;
  for (int k = 0; k < 6; ++k) out.mac[k] = mac[k];
  return true;
}

std::vector<ArpEntry> ParseKernelArpTable(std::string_view text) { return EachLine(text, ParseKernelArpLine); }

}  // namespace qs::net
