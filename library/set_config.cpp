#include "library/set_config.h"

#include <cstring>

#include "runtime/bytes.h"

namespace qs::kvxr {

using namespace bytes;

namespace {
// A text field written up to its first NUL and padded with NULs.
void PutText(uint8_t* dst, const uint8_t* src, size_t width) {
  for (size_t i = 0; i < width && src[i]; ++i) dst[i] = src[i];
}
}  // namespace

std::vector<uint8_t> EncodeSetConfig(const SetConfigRequest& r) {
  std::vector<uint8_t> v(kSetConfigSize, 0);
  uint8_t* p = v.data();
  std::memcpy(p + 0, r.hardwareId, 16);
  std::memcpy(p + 16, r.mac, 6);
  p[22] = r.dhcp ? 1 : 0;
  p[23] = r.operationMode;
  PutBe32(p + 24, r.staticAddress);
  PutBe32(p + 28, r.netmask);
  PutBe32(p + 32, r.gateway);
  PutText(p + 36, r.modelCode, 8);
  PutText(p + 44, r.serial, 24);
  std::memcpy(p + 68, r.text, 40);
  return v;
}

bool DecodeSetConfig(const uint8_t* p, size_t len, SetConfigRequest* out) {
  if (!p || !out || len != kSetConfigSize) return false;
  SetConfigRequest r;
  std::memcpy(r.hardwareId, p + 0, 16);
  std::memcpy(r.mac, p + 16, 6);
  r.dhcp = p[22] == 1;
  r.dhcpByte = p[22];
  r.operationMode = p[23];
  r.staticAddress = GetBe32(p + 24);
  r.netmask = GetBe32(p + 28);
  r.gateway = GetBe32(p + 32);
  std::memcpy(r.modelCode, p + 36, 8);
  std::memcpy(r.serial, p + 44, 24);
  std::memcpy(r.text, p + 68, 40);
  *out = r;
  return true;
}

std::vector<uint8_t> EncodeSetConfigAck(bool accepted) { return {static_cast<uint8_t>(accepted ? 1 : 0)}; }

bool SetConfigAccepted(const uint8_t* payload, size_t len) { return payload && len >= 1 && payload[0] == 1; }

}  // namespace qs::kvxr
