#include "discovery/frame.h"

#include <cstring>

#include "platform/sha1.h"
#include "platform/uuid.h"

namespace qs::disc {

namespace {

void PutU16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x & 0xFF));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool MakeNonce(uint8_t out[kNonceSize]) { return plat::NewUuid(out); }

std::vector<uint8_t> BuildRequest(const uint8_t nonce[kNonceSize], uint16_t command, const uint8_t* payload,
                                  size_t payloadLen) {
  std::vector<uint8_t> f;
  if (payloadLen > 0xFFFF || (payloadLen && !payload)) return f;
  f.reserve(kRequestOverhead + payloadLen);
  f.insert(f.end(), nonce, nonce + kNonceSize);
  PutU16(f, command);
  PutU16(f, static_cast<uint16_t>(payloadLen));
  if (payloadLen) f.insert(f.end(), payload, payload + payloadLen);
  uint8_t digest[plat::kSha1Size];
  if (!plat::Sha1Digest(f.data(), f.size(), digest)) return {};
  f.insert(f.end(), digest, digest + sizeof digest);
  return f;
}

bool VerifyReply(const uint8_t nonce[kNonceSize], const uint8_t* bytes, size_t len, VerifiedReply* out) {
  if (!bytes || len < kReplyOverhead) return false;
  const size_t n = GetU16(bytes + 6);
  if (len != n + kReplyOverhead) return false;
  plat::Sha1 h;
  h.Update(nonce, kNonceSize);
  h.Update(bytes, kReplyPayloadOffset + n);
  uint8_t digest[plat::kSha1Size];
  if (!h.Final(digest)) return false;
  if (std::memcmp(digest, bytes + kReplyPayloadOffset + n, sizeof digest) != 0) return false;
  if (out) {
    out->type = GetU16(bytes + 4);
    out->payload = bytes + kReplyPayloadOffset;
    out->length = n;
  }
  return true;
}

std::vector<uint8_t> BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const uint8_t* payload,
                                size_t payloadLen) {
  std::vector<uint8_t> f;
  if (payloadLen > 0xFFFF || (payloadLen && !payload)) return f;
  f.assign(4, 0);
  PutU16(f, type);
  PutU16(f, static_cast<uint16_t>(payloadLen));
  if (payloadLen) f.insert(f.end(), payload, payload + payloadLen);
  plat::Sha1 h;
  h.Update(nonce, kNonceSize);
  h.Update(f.data(), f.size());
  uint8_t digest[plat::kSha1Size];
  if (!h.Final(digest)) return {};
  f.insert(f.end(), digest, digest + sizeof digest);
  return f;
}

}  // namespace qs::disc
