// Exports whose work is not built yet. Each refuses with the status its
// contract gives for "could not be started", so a caller never mistakes it
// for success; each moves to its own file when its piece of the library lands.
#include "library/KV-xR_update.h"

extern "C" {
// recovery
KVXR_API int32_t KVXR_CALL KVxR_SetRecoveryMode(int32_t, KVxR_RecoveryCallback) { return -102; }
KVXR_API int32_t KVXR_CALL KVxR_ResumeRecovery(int32_t) { return -100; }
// product data
KVXR_API int32_t KVXR_CALL KVxR_DbgReadProductData(int32_t, KVxR_ProductDataCallback) { return -102; }
KVXR_API int32_t KVXR_CALL KVxR_DbgEraseProductData(int32_t) { return -102; }
}
