// The few KV-xR library calls the device manager makes, as a table so that
// tests can stand in for the library.
#pragma once
#include <cstdint>

#include "library/KV-xR_update.h"

namespace qs::disc {

struct LibraryApi {
  int32_t(KVXR_CALL* setDiscoveryMode)(int32_t mode);
  int32_t(KVXR_CALL* discoverDevices)(int32_t reserved, KVxR_DeviceCallback onDevice, KVxR_DoneCallback onDone);
  int32_t(KVXR_CALL* getSerial)(int32_t device, KVxR_WCHAR* out, uint32_t capacity);
  int32_t(KVXR_CALL* getHardwareId)(int32_t device, uint8_t* out16);
};

// The linked library's functions.
const LibraryApi& LinkedLibrary();

}  // namespace qs::disc
