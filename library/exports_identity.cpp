#include "library/KV-xR_update.h"

extern "C" {
KVXR_API int32_t KVXR_CALL KVxR_ReadOperationMode(int32_t, uint8_t*) { return -100; }
KVXR_API int32_t KVXR_CALL KVxR_GetSerial(int32_t, KVxR_WCHAR*, uint32_t) { return -100; }
KVXR_API int32_t KVXR_CALL KVxR_GetHardwareID(int32_t, uint8_t*) { return -100; }
}
