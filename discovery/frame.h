// The authenticated frame, on which the program's discovery and wink and the
// library's scan, set-config and reboot travel. Integers are little-endian.
//
// Request (40 + N bytes):
//   offset  size  field
//        0    16  nonce
//       16     2  command code
//       18     2  payload length N
//       20     N  payload
//   20 + N    20  SHA-1 of bytes 0 to 20 + N - 1
//
// Reply (28 + N bytes):
//        0     4  header word, not interpreted by the receiver
//        4     2  reply type
//        6     2  payload length N
//        8     N  payload
//    8 + N    20  SHA-1 of the requester's nonce followed by bytes 0 to 8 + N - 1
//
// A reply carries no nonce: the responder keeps the one of the request it
// answers, so a reply authenticates only against the request that asked.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::disc {

constexpr size_t kNonceSize = 16;
constexpr size_t kRequestOverhead = 40;  // nonce, command, length, digest
constexpr size_t kReplyOverhead = 28;    // header, type, length, digest
constexpr size_t kRequestPayloadOffset = 20;
constexpr size_t kReplyPayloadOffset = 8;

// Every command and reply type, and where its payload is laid out.
constexpr uint16_t kCmdDiscover = 0xC101;         // no payload; answered by announces
constexpr uint16_t kCmdSetConfig = 0xC102;        // library/set_config.h
constexpr uint16_t kCmdReboot = 0xC103;           // library/reboot_request.h
constexpr uint16_t kCmdWink = 0xC104;             // discovery/wink_request.h
constexpr uint16_t kReplyAnnounce = 0x5501;       // discovery/announce.h
constexpr uint16_t kReplySetConfigAck = 0x5502;   // library/set_config.h
constexpr uint16_t kReplyChallenge = 0x5503;      // library/reboot_request.h
constexpr uint16_t kReplyOpModeReport = 0x5504;   // library/opmode_report.h

// UDP ports. The command port carries the text probe, the winks and every
// KV-xR exchange; the discover port only the program's discover request.
constexpr uint16_t kCommandPort = 9010;
constexpr uint16_t kDiscoverPort = 59300;

// A fresh nonce from the system's UUID generator.
bool MakeNonce(uint8_t out[kNonceSize]);

// Empty when the payload does not fit the 16-bit length field or hashing fails.
std::vector<uint8_t> BuildRequest(const uint8_t nonce[kNonceSize], uint16_t command, const uint8_t* payload,
                                  size_t payloadLen);

// The device side of a request: its parts, pointing into the datagram. false
// when the datagram is not exactly 40 + N bytes; one of that shape whose
// digest does not match parses with digestOk false.
struct ParsedRequest {
  const uint8_t* nonce = nullptr;
  uint16_t command = 0;
  const uint8_t* payload = nullptr;
  size_t length = 0;
  bool digestOk = false;
};
bool ParseRequest(const uint8_t* bytes, size_t len, ParsedRequest* out);

struct VerifiedReply {
  uint16_t type = 0;
  const uint8_t* payload = nullptr;  // points into the verified datagram
  size_t length = 0;
};

// Checks that the datagram is exactly N + 28 bytes long and that its digest
// matches the nonce. Any reply type passes; callers check the one they want.
bool VerifyReply(const uint8_t nonce[kNonceSize], const uint8_t* bytes, size_t len, VerifiedReply* out);

// Builds a reply as a device would: header word 0.
std::vector<uint8_t> BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const uint8_t* payload,
                                size_t payloadLen);

}  // namespace qs::disc
