// Stands in for the firmware file export until exports_firmware.cpp exists:
// no file can be loaded, so every path is reported as not found.
#include "library/KV-xR_update.h"

extern "C" KVXR_API int32_t KVXR_CALL KVxR_SetFirmwareFile(const KVxR_WCHAR*, KVxR_WCHAR* versionOut, uint32_t capacity) {
  if (versionOut && capacity > 0) versionOut[0] = 0;
  return -100;
}
