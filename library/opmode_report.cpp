#include "library/opmode_report.h"

#include <cstring>

namespace qs::kvxr {

bool DecodeOpModeReport(const uint8_t* p, size_t len, OpModeReport* out) {
  OpModeReport r;
  size_t at = 0, left = p ? len : 0;
  while (left >= 2 && static_cast<size_t>(p[at + 1]) + 2 <= left) {
    const uint8_t tag = p[at], l = p[at + 1];
    const uint8_t* data = p + at + 2;
    if (tag == kItemHardwareId && l == sizeof r.hardwareId) {
      std::memcpy(r.hardwareId, data, sizeof r.hardwareId);
      r.hasId = true;
    } else if (tag == kItemOperationMode && l >= 1) {
      r.mode = data[0];
      r.hasMode = true;
    }
    at += 2u + l;
    left -= 2u + l;
  }
  if (out) *out = r;
  return r.hasId && r.hasMode;
}

std::vector<uint8_t> EncodeOpModeReport(const OpModeReport& r) {
  std::vector<uint8_t> v;
  if (r.hasId) {
    v.push_back(kItemHardwareId);
    v.push_back(sizeof r.hardwareId);
    v.insert(v.end(), r.hardwareId, r.hardwareId + sizeof r.hardwareId);
  }
  if (r.hasMode) {
    v.push_back(kItemOperationMode);
    v.push_back(1);
    v.push_back(r.mode);
  }
  return v;
}

}  // namespace qs::kvxr
