// The wink, in the two forms that two generations of firmware understand; both
// go to the command port (discovery/frame.h) and are never answered.
//
// Legacy: the 4 ASCII bytes "Wink", no terminator, to the device's current
// address.
//
// Authenticated: a request of command kCmdWink to 255.255.255.255, payload:
//   offset size  field
//        0   16  hardware identifier of the device meant
//       16       end: the request is 56 bytes in all
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "discovery/frame.h"

namespace qs::disc {

constexpr char kWinkText[] = "Wink";
constexpr size_t kWinkTextSize = sizeof kWinkText - 1;
constexpr size_t kWinkPayloadSize = 16;
constexpr size_t kWinkRequestSize = kRequestOverhead + kWinkPayloadSize;

// Empty when hashing fails.
std::vector<uint8_t> BuildWinkRequest(const uint8_t nonce[kNonceSize], const uint8_t hardwareId[16]);

// The device side: the identifier a wink payload names; false unless the
// payload is exactly 16 bytes.
bool DecodeWinkPayload(const uint8_t* payload, size_t len, uint8_t hardwareId[16]);

}  // namespace qs::disc
