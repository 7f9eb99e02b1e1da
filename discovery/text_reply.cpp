#include "discovery/text_reply.h"

#include <string>

#include "runtime/bytes.h"

namespace qs::disc {

bool DecodeTextReply(const uint8_t* data, size_t len, TextReply* out) {
  if (!data || len < 2 || data[0] != 0x02 || data[len - 1] != 0x03) return false;
  const uint8_t* inner = data + 1;
  const size_t innerLen = len - 2;
  size_t codeLen = 0;
  const ModelRow* row = FindModelByCode(inner, innerLen, &codeLen);
  if (!row) return false;
  std::string_view s(reinterpret_cast<const char*>(inner), innerLen);
  size_t pos = codeLen;
  TextReply r;
  r.row = row;
  if (!bytes::ParseIpv4At(s, pos, r.address)) return false;
  if (pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  if (!bytes::ParseMacAt(s, pos, "-", r.mac)) return false;
  if (out) *out = r;
  return true;
}

std::vector<uint8_t> EncodeTextReply(std::string_view code, uint32_t address, const uint8_t mac[6],
                                     std::string_view extra) {
  std::string s = "\x02";
  s.append(code);
  s += bytes::FormatIpv4(address);
  s += ':';
  s += bytes::FormatMac(mac, '-');
  s.append(extra);
  s += '\x03';
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace qs::disc
