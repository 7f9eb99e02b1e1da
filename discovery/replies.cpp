#include "discovery/replies.h"

#include <cstring>
#include <string_view>

#include "discovery/text_fields.h"

namespace qs::disc {

bool DecodeTextReply(const uint8_t* bytes, size_t len, Sighting* out) {
  if (!bytes || len < 2 || bytes[0] != 0x02 || bytes[len - 1] != 0x03) return false;
  const uint8_t* inner = bytes + 1;
  const size_t innerLen = len - 2;
  size_t codeLen = 0;
  const ModelRow* row = FindModelByCode(inner, innerLen, &codeLen);
  if (!row) return false;
  std::string_view s(reinterpret_cast<const char*>(inner), innerLen);
  size_t pos = codeLen;
  Sighting r;
  r.row = row;
  if (!ParseDottedQuad(s, pos, r.address)) return false;
  if (pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  if (!ParseMacText(s, pos, "-", r.mac)) return false;
  if (out) *out = r;
  return true;
}

bool DecodeAnnounce(const uint8_t* payload, size_t len, Sighting* out) {
  if (!payload || len < kAnnounceMinForScan) return false;
  const ModelRow* row = FindModelByCode(payload + kAnnounceModelOffset, kModelCodeMax);
  if (!row) return false;
  Sighting r;
  r.row = row;
  const uint8_t* a = payload + kAnnounceAddressOffset;
  r.address = static_cast<uint32_t>(a[0]) << 24 | static_cast<uint32_t>(a[1]) << 16 |
              static_cast<uint32_t>(a[2]) << 8 | a[3];
  std::memcpy(r.mac, payload + kAnnounceMacOffset, 6);
  if (out) *out = r;
  return true;
}

Verdict ClassifyDatagram(const uint8_t nonce[kNonceSize], const uint8_t* bytes, size_t len, Sighting* out) {
  Sighting s;
  if (DecodeTextReply(bytes, len, &s)) {
    if (!s.row->listed) return Verdict::Consumed;
    if (out) *out = s;
    return Verdict::Report;
  }
  VerifiedReply v;
  if (!VerifyReply(nonce, bytes, len, &v) || v.type != kReplyAnnounce) return Verdict::Dropped;
  if (!DecodeAnnounce(v.payload, v.length, &s) || !s.row->listed) return Verdict::Dropped;
  if (out) *out = s;
  return Verdict::Report;
}

}  // namespace qs::disc
