// What the last scan learnt of a device: serial, hardware identifier and
// operation mode. No network traffic, no initialisation.
#include <cstring>
#include <string>

#include "library/KV-xR_update.h"
#include "library/library_state.h"
#include "platform/text.h"

using namespace qs::kvxr;

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_ReadOperationMode(int32_t device, uint8_t* out) {
  DeviceRecord r;
  int32_t st = LookUpDevice(device, &r);
  if (st != kOk) return st;
  if (!out) return kBadArgument;
  *out = r.operationMode;
  return kOk;
}

KVXR_API int32_t KVXR_CALL KVxR_GetSerial(int32_t device, KVxR_WCHAR* out, uint32_t capacity) {
  DeviceRecord r;
  int32_t st = LookUpDevice(device, &r);
  if (st != kOk) return st;
  std::u16string text = qs::plat::AnsiToWide(SerialText(r));
  if (!out || capacity < text.size() + 1) return kBadArgument;
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<KVxR_WCHAR>(text[i]);
  out[text.size()] = 0;
  return kOk;
}

KVXR_API int32_t KVXR_CALL KVxR_GetHardwareID(int32_t device, uint8_t* out16) {
  DeviceRecord r;
  int32_t st = LookUpDevice(device, &r);
  if (st != kOk) return st;
  if (!out16) return kBadArgument;
  std::memcpy(out16, r.hardwareId, kHwIdSize);
  return kOk;
}
}
