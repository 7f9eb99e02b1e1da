// What one datagram of the program's scan says: the legacy text reply and the
// authenticated announce. Pure functions over bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "discovery/frame.h"
#include "discovery/model_table.h"

namespace qs::disc {

// Fields of the announce payload that the program's scan reads, and the
// shortest payload that holds them.
constexpr size_t kAnnounceAddressOffset = 16;
constexpr size_t kAnnounceMacOffset = 20;
constexpr size_t kAnnounceModelOffset = 39;
constexpr size_t kAnnounceMinForScan = kAnnounceModelOffset + kModelCodeMax;  // 47

struct Sighting {
  const ModelRow* row = nullptr;
  uint32_t address = 0;  // host order
  uint8_t mac[6] = {};
};

// 0x02, model code, dotted address, ":", MAC as xx-xx-xx-xx-xx-xx, anything, 0x03.
// The row found may be one that is not listed; callers decide.
bool DecodeTextReply(const uint8_t* bytes, size_t len, Sighting* out);

// Announce payload: model code looked up by prefix within its 8-byte field.
// Rejects payloads too short for the fields read.
bool DecodeAnnounce(const uint8_t* payload, size_t len, Sighting* out);

enum class Verdict {
  Report,    // a listed model: make a device report
  Consumed,  // a text reply of a model that is not listed: no further effect
  Dropped,   // anything else
};

// The whole rule for one received datagram: text reply first, then the
// authenticated announce bound to the scan nonce.
Verdict ClassifyDatagram(const uint8_t nonce[kNonceSize], const uint8_t* bytes, size_t len, Sighting* out);

}  // namespace qs::disc
