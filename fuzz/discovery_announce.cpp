// Authenticated replies and announce decoding. A fuzzer cannot forge SHA-1
// trailers, so the input is used twice: as a datagram as it arrives, and as the
// body of a correctly signed reply whose length field and size the first bytes
// may then spoil.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "discovery/announce.h"
#include "discovery/frame.h"
#include "discovery/replies.h"

namespace {

const uint8_t kNonce[16] = {0xA5, 0x5A, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void Classify(const uint8_t* bytes, size_t len) {
  using namespace qs::disc;
  uint8_t* buf = new uint8_t[len ? len : 1];
  if (len) std::memcpy(buf, bytes, len);
  VerifiedReply r;
  if (VerifyReply(kNonce, buf, len, &r)) {
    Check(r.length + kReplyOverhead == len && r.payload == buf + kReplyPayloadOffset);
    Sighting s;
    if (SightingFromAnnounce(r.payload, r.length, &s)) Check(s.row != nullptr && r.length >= kAnnounceNeededByScan);
  }
  Sighting s;
  if (ClassifyDatagram(kNonce, buf, len, &s) == Verdict::Report) Check(s.row && s.row->listed);
  delete[] buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs::disc;
  Classify(data, size);
  {
    // the raw input as an announce payload
    uint8_t* p = new uint8_t[size ? size : 1];
    if (size) std::memcpy(p, data, size);
    Sighting s;
    if (SightingFromAnnounce(p, size, &s)) Check(size >= kAnnounceNeededByScan && s.row != nullptr);
    // A whole announce written again is the same bytes, but for the two the
    // layout does not keep: the DHCP byte (only 1 counts) and byte 111.
    Announce a;
    if (DecodeAnnounce(p, size, kAnnounceSize, &a)) {
      std::vector<uint8_t> again = EncodeAnnounce(a);
      Check(again.size() == kAnnounceSize);
      for (size_t i = 0; i < kAnnounceSize; ++i)
        if (i != 26 && i != 111) Check(again[i] == p[i]);
      Check(again[26] == (p[26] == 1 ? 1 : 0));
    } else {
      Check(size < kAnnounceSize);
    }
    delete[] p;
  }
  if (size < 3) return 0;
  // byte 0: how to spoil the frame; byte 1: the type's low byte; the rest: payload
  const uint8_t how = data[0];
  const uint16_t type = static_cast<uint16_t>(0x5500 | data[1]);
  std::vector<uint8_t> f = BuildReply(kNonce, type, data + 2, size - 2);
  Check(f.size() == size - 2 + kReplyOverhead);
  VerifiedReply r;
  Check(VerifyReply(kNonce, f.data(), f.size(), &r) && r.type == type && r.length == size - 2 &&
        std::memcmp(r.payload, data + 2, size - 2) == 0);
  uint8_t other[16];
  std::memcpy(other, kNonce, 16);
  other[how & 15] ^= static_cast<uint8_t>(1u << (how >> 5));
  Check(!VerifyReply(other, f.data(), f.size(), nullptr));  // another scan's nonce never verifies
  switch (how & 0x18) {
    case 0x08: f[6] = static_cast<uint8_t>(f[6] + 1); break;  // length field one off
    case 0x10: f.pop_back(); break;                          // one byte short
    case 0x18: f.push_back(how); break;                      // one byte long
    default: break;
  }
  if ((how & 0x18) != 0) Check(!VerifyReply(kNonce, f.data(), f.size(), nullptr));
  Classify(f.data(), f.size());
  return 0;
}
