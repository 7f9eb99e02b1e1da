#include "library/KV-xR_update.h"

extern "C" {
KVXR_API int32_t KVXR_CALL KVxR_DiscoverDevices(int32_t, KVxR_DeviceCallback, KVxR_DoneCallback) { return -1; }
KVXR_API int32_t KVXR_CALL KVxR_EnumDevices(KVxR_DeviceCallback) { return -100; }
KVXR_API int32_t KVXR_CALL KVxR_SetDiscoveryMode(int32_t) { return -100; }
#ifndef _WIN32
KVXR_API int32_t KVxR_DispatchNotifications(uint32_t) { return 0; }
#endif
}
