#include "library/KV-xR_update.h"

extern "C" KVXR_API int32_t KVXR_CALL KVxR_GetLibraryVersion(void) { return 2; }
