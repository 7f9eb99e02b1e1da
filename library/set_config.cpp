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
  std::memcpy(p + 0, r.hardwareId, sizeof r.hardwareId);
  std::memcpy(p + 16, r.mac, sizeof r.mac);
  p[22] = r.dhcp ? 1 : 0;
  p[23] = r.operationMode;
  PutBe32(p + 24, r.staticAddress);
  PutBe32(p + 28, r.netmask);
  PutBe32(p + 32, r.gateway);
  PutText(p + 36, r.modelCode, sizeof r.modelCode);
  PutText(p + 44, r.serial, sizeof r.serial);
  std::memcpy(p + 68, r.text, sizeof r.text);
  return v;
}

bool DecodeSetConfig(const uint8_t* p, size_t len, SetConfigRequest* out) {
  if (!p || !out || len != kSetConfigSize) return false;
  SetConfigRequest r;
  std::memcpy(r.hardwareId, p + 0, sizeof r.hardwareId);
  std::memcpy(r.mac, p + 16, sizeof r.mac);
  r.dhcp = p[22] == 1;
  r.dhcpByte = p[22];
  r.operationMode = p[23];
  r.staticAddress = GetBe32(p + 24);
  r.netmask = GetBe32(p + 28);
  r.gateway = GetBe32(p + 32);
  std::memcpy(r.modelCode, p + 36, sizeof r.modelCode);
  std::memcpy(r.serial, p + 44, sizeof r.serial);
  std::memcpy(r.text, p + 68, sizeof r.text);
  *out = r;
  return true;
}

std::vector<uint8_t> EncodeSetConfigAck(bool accepted) { return {static_cast<uint8_t>(accepted ? 1 : 0)}; }

bool SetConfigAccepted(const uint8_t* payload, size_t len) { return payload && len >= 1 && payload[0] == 1; }

}  // namespace qs::kvxr
