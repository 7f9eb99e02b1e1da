#include "discovery/wink_request.h"

#include <cstring>

namespace qs::disc {

std::vector<uint8_t> BuildWinkRequest(const uint8_t nonce[kNonceSize], const uint8_t hardwareId[16]) {
  return BuildRequest(nonce, kCmdWink, hardwareId, kWinkPayloadSize);
}

bool DecodeWinkPayload(const uint8_t* payload, size_t len, uint8_t hardwareId[16]) {
  if (!payload || len != kWinkPayloadSize) return false;
  std::memcpy(hardwareId, payload, kWinkPayloadSize);
  return true;
}

}  // namespace qs::disc
