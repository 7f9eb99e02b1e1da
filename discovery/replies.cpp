#include "discovery/replies.h"

#include <cstring>

#include "discovery/announce.h"
#include "discovery/text_reply.h"

namespace qs::disc {

bool SightingFromAnnounce(const uint8_t* payload, size_t len, Sighting* out) {
  Announce a;
  if (!DecodeAnnounce(payload, len, kAnnounceNeededByScan, &a)) return false;
  const ModelRow* row = FindModelByCode(a.modelCode, sizeof a.modelCode);
  if (!row) return false;
  Sighting s;
  s.row = row;
  s.address = a.address;
  std::memcpy(s.mac, a.mac, 6);
  if (out) *out = s;
  return true;
}

namespace {

ReplyKind KindOfListed(const ModelRow* row) {
  return IsKvxrModel(row->modelNumber) ? ReplyKind::Kvxr : ReplyKind::FirstFamily;
}

}  // namespace

Verdict ClassifyDatagram(const uint8_t nonce[kNonceSize], const uint8_t* bytes, size_t len, Sighting* out,
                         ReplyKind* kind) {
  ReplyKind ignored;
  ReplyKind& k = kind ? *kind : ignored;
  TextReply t;
  if (DecodeTextReply(bytes, len, &t)) {
    if (!t.row->listed) {
      k = ReplyKind::Unlisted;
      return Verdict::Consumed;
    }
    if (out) {
      out->row = t.row;
      out->address = t.address;
      std::memcpy(out->mac, t.mac, 6);
    }
    k = KindOfListed(t.row);
    return Verdict::Report;
  }
  k = ReplyKind::Invalid;
  Sighting s;
  VerifiedReply v;
  if (!VerifyReply(nonce, bytes, len, &v) || v.type != kReplyAnnounce) return Verdict::Dropped;
  if (!SightingFromAnnounce(v.payload, v.length, &s)) return Verdict::Dropped;
  if (!s.row->listed) {
    k = ReplyKind::Unlisted;
    return Verdict::Dropped;
  }
  if (out) *out = s;
  k = KindOfListed(s.row);
  return Verdict::Report;
}

}  // namespace qs::disc
