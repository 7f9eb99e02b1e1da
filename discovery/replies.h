// What one datagram of the program's scan says: the legacy text reply
// (discovery/text_reply.h) or the authenticated announce
// (discovery/announce.h). Pure functions over bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "discovery/frame.h"
#include "discovery/model_table.h"

namespace qs::disc {

struct Sighting {
  const ModelRow* row = nullptr;
  uint32_t address = 0;  // host order
  uint8_t mac[6] = {};
};

// The announce as the program's scan reads it: the model code looked up by
// prefix within its 8-byte field, the address and the MAC. Rejects payloads
// too short for those fields.
bool SightingFromAnnounce(const uint8_t* payload, size_t len, Sighting* out);

enum class Verdict {
  Report,    // a listed model: make a device report
  Consumed,  // a text reply of a model that is not listed: no further effect
  Dropped,   // anything else
};

// What a datagram was, for the scan's counts: a reply naming a listed model
// of either family, one naming a model the program does not list, or
// anything else (malformed, not bound to this scan's nonce, unknown model).
enum class ReplyKind : uint8_t { FirstFamily, Kvxr, Unlisted, Invalid };

// The whole rule for one received datagram: text reply first, then the
// authenticated announce bound to the scan nonce. kind (optional) receives
// what it was.
Verdict ClassifyDatagram(const uint8_t nonce[kNonceSize], const uint8_t* bytes, size_t len, Sighting* out,
                         ReplyKind* kind = nullptr);

}  // namespace qs::disc
