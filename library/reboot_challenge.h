// The plain-text reboot exchange of a firmware update, UDP port 9010, apart
// from the authenticated frames. No terminators anywhere.
//
// Request, library -> device, 6 bytes:
//   0   6   "Reboot"
//
// Challenge, device -> library, at least 33 bytes:
//   0   1   0x02
//   1   7   "?Reboot"
//   8   24  text, ending at the first NUL or after 24 characters: the Base64
//           form (standard alphabet, "=" padding) of a 16-byte token, which
//           is always 24 characters ("==" at the end)
//   32  ..  not read (the device's encoder writes one NUL)
//
// Answer, library -> device, 30 bytes:
//   0   6   "Reboot"
//   6   24  Base64 of the token with every bit inverted, "==" included
//
// The parser refuses a shorter datagram, another lead-in, and a text that is
// not exactly the Base64 form of 16 bytes. The sender's address is the
// caller's to check.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::kvxr {

constexpr uint16_t kRebootPort = 9010;
constexpr size_t kRebootRequestSize = 6;
constexpr size_t kRebootChallengeMinSize = 33;
constexpr size_t kRebootAnswerSize = 30;
constexpr size_t kRebootTokenSize = 16;

std::vector<uint8_t> BuildRebootRequest();
bool ParseRebootChallenge(const uint8_t* p, size_t len, uint8_t token[kRebootTokenSize]);
std::vector<uint8_t> BuildRebootAnswer(const uint8_t token[kRebootTokenSize]);

// Device side (the simulator and tests): 33 bytes.
std::vector<uint8_t> BuildRebootChallenge(const uint8_t token[kRebootTokenSize]);
// The answer is exactly "Reboot" and the inverted token's Base64 text.
bool AnswerMatches(const uint8_t* p, size_t len, const uint8_t token[kRebootTokenSize]);

}  // namespace qs::kvxr
