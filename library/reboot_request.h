// The authenticated reboot: a request of command kCmdReboot
// (discovery/frame.h) broadcast to the command port twice with the same
// nonce, and the device's challenge between them, reply type kReplyChallenge.
//
// Request payload (40 bytes; the whole request is 80):
//   offset size  field
//        0   16  hardware identifier of the device meant
//       16   24  response: all zero in the first request; in the second the
//                Base64 text (24 characters) of the challenge's 16 bytes with
//                every bit inverted
//       40       end
//
// Challenge payload (40 bytes; a shorter one is not read):
//        0   16  not read (devices put their identifier here)
//       16   24  challenge: the Base64 text (RFC 4648, "=" padding) of 16
//                bytes, NUL-terminated when shorter than 24 characters
//       40       anything further is not read
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::kvxr {

constexpr size_t kRebootSize = 40;
constexpr size_t kRebootTextSize = 24;  // the response and challenge fields
constexpr size_t kChallengeBytes = 16;

// Text of a response or challenge field: up to 24 characters and a NUL.
struct RebootText {
  char text[kRebootTextSize + 1] = {};
};

// response null: the first request, its response field all zero.
std::vector<uint8_t> EncodeRebootRequest(const uint8_t hardwareId[16], const RebootText* response);

// The device side: false unless the payload is exactly kRebootSize bytes.
// first: the response field is all zero.
struct RebootRequest {
  uint8_t hardwareId[16] = {};
  bool first = false;
  RebootText response;
};
bool DecodeRebootRequest(const uint8_t* payload, size_t len, RebootRequest* out);

std::vector<uint8_t> EncodeChallenge(const uint8_t hardwareId[16], const uint8_t challenge[kChallengeBytes]);

// The 16 bytes a challenge payload carries; false when it is shorter than
// kRebootSize or its text is not the Base64 text of exactly 16 bytes.
bool DecodeChallenge(const uint8_t* payload, size_t len, uint8_t challenge[kChallengeBytes]);

// What answers a challenge: the Base64 text of its bytes, every bit inverted.
RebootText ResponseTo(const uint8_t challenge[kChallengeBytes]);

}  // namespace qs::kvxr
