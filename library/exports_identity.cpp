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
  return WithDevice(device, Initialise::No, KVXR_NO_ROOM, [&](const DeviceRecord& r) -> int32_t {
    if (!out) return KVXR_NO_ROOM;
    *out = r.operationMode;
    return KVXR_OK;
  });
}

KVXR_API int32_t KVXR_CALL KVxR_GetSerial(int32_t device, KVxR_WCHAR* out, uint32_t capacity) {
  return WithDevice(device, Initialise::No, KVXR_NO_ROOM, [&](const DeviceRecord& r) -> int32_t {
    std::u16string text = qs::plat::AnsiToWide(SerialText(r));
    if (!out || capacity < text.size() + 1) return KVXR_NO_ROOM;
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<KVxR_WCHAR>(text[i]);
    out[text.size()] = 0;
    return KVXR_OK;
  });
}

KVXR_API int32_t KVXR_CALL KVxR_GetHardwareID(int32_t device, uint8_t* out16) {
  return WithDevice(device, Initialise::No, KVXR_NO_ROOM, [&](const DeviceRecord& r) -> int32_t {
    if (!out16) return KVXR_NO_ROOM;
    std::memcpy(out16, r.hardwareId, kHwIdSize);
    return KVXR_OK;
  });
}
}
