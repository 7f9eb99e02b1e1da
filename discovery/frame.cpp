#include "discovery/frame.h"

#include <cstring>

#include "platform/sha1.h"
#include "platform/uuid.h"
#include "runtime/bytes.h"

namespace qs::disc {

namespace {

void AppendLe16(std::vector<uint8_t>& v, uint16_t x) {
  uint8_t b[2];
  bytes::PutLe16(b, x);
  v.insert(v.end(), b, b + 2);
}

}  // namespace

bool MakeNonce(uint8_t out[kNonceSize]) { return plat::NewUuid(out); }

std::vector<uint8_t> BuildRequest(const uint8_t nonce[kNonceSize], uint16_t command, const uint8_t* payload,
                                  size_t payloadLen) {
  std::vector<uint8_t> f;
  if (payloadLen > 0xFFFF || (payloadLen && !payload)) return f;
  f.reserve(kRequestOverhead + payloadLen);
  f.insert(f.end(), nonce, nonce + kNonceSize);
  AppendLe16(f, command);
  AppendLe16(f, static_cast<uint16_t>(payloadLen));
  if (payloadLen) f.insert(f.end(), payload, payload + payloadLen);
  uint8_t digest[plat::kSha1Size];
  if (!plat::Sha1Digest(f.data(), f.size(), digest)) return {};
  f.insert(f.end(), digest, digest + sizeof digest);
  return f;
}

bool ParseRequest(const uint8_t* data, size_t len, ParsedRequest* out) {
  if (!data || len < kRequestOverhead) return false;
  const size_t n = bytes::GetLe16(data + 18);
  if (len != n + kRequestOverhead) return false;
  ParsedRequest r;
  r.nonce = data;
  r.command = bytes::GetLe16(data + 16);
  r.payload = data + kRequestPayloadOffset;
  r.length = n;
  uint8_t digest[plat::kSha1Size];
  r.digestOk = plat::Sha1Digest(data, kRequestPayloadOffset + n, digest) &&
               std::memcmp(digest, data + kRequestPayloadOffset + n, sizeof digest) == 0;
  if (out) *out = r;
  return true;
}

bool VerifyReply(const uint8_t nonce[kNonceSize], const uint8_t* data, size_t len, VerifiedReply* out) {
  if (!data || len < kReplyOverhead) return false;
  const size_t n = bytes::GetLe16(data + 6);
  if (len != n + kReplyOverhead) return false;
  plat::Sha1 h;
  h.Update(nonce, kNonceSize);
  h.Update(data, kReplyPayloadOffset + n);
  uint8_t digest[plat::kSha1Size];
  if (!h.Final(digest)) return false;
  if (std::memcmp(digest, data + kReplyPayloadOffset + n, sizeof digest) != 0) return false;
  if (out) {
    out->type = bytes::GetLe16(data + 4);
    out->payload = data + kReplyPayloadOffset;
    out->length = n;
  }
  return true;
}

std::vector<uint8_t> BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const uint8_t* payload,
                                size_t payloadLen) {
  std::vector<uint8_t> f;
  if (payloadLen > 0xFFFF || (payloadLen && !payload)) return f;
  f.assign(4, 0);
  AppendLe16(f, type);
  AppendLe16(f, static_cast<uint16_t>(payloadLen));
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
