// The authenticated frame. Request: nonce (16) | command (u16) | length (u16) |
// payload | SHA-1 of all before. Reply: header (4) | type (u16) | length (u16) |
// payload | SHA-1 of the requester's nonce followed by the reply before it.
// Integers are little-endian.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::disc {

constexpr size_t kNonceSize = 16;
constexpr size_t kRequestOverhead = 40;  // nonce, command, length, digest
constexpr size_t kReplyOverhead = 28;    // header, type, length, digest
constexpr size_t kReplyPayloadOffset = 8;

constexpr uint16_t kCmdDiscover = 0xC101;
constexpr uint16_t kCmdWink = 0xC104;
constexpr uint16_t kReplyAnnounce = 0x5501;

// A fresh nonce from the system's UUID generator.
bool MakeNonce(uint8_t out[kNonceSize]);

// Empty when the payload does not fit the 16-bit length field or hashing fails.
std::vector<uint8_t> BuildRequest(const uint8_t nonce[kNonceSize], uint16_t command, const uint8_t* payload,
                                  size_t payloadLen);

struct VerifiedReply {
  uint16_t type = 0;
  const uint8_t* payload = nullptr;  // points into the verified datagram
  size_t length = 0;
};

// Checks that the datagram is exactly N + 28 bytes long and that its digest
// matches the nonce. Any reply type passes; callers check the one they want.
bool VerifyReply(const uint8_t nonce[kNonceSize], const uint8_t* bytes, size_t len, VerifiedReply* out);

// Builds a reply as a device would (used by tests and tools): header word 0.
std::vector<uint8_t> BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const uint8_t* payload,
                                size_t payloadLen);

}  // namespace qs::disc
