// Recovery mode: on with the current firmware and a callback (updates and
// product-data work are then refused), off again; resuming a unit that
// recovery mode found.
#include "firmware/firmware_file_state.h"
#include "library/KV-xR_update.h"
#include "library/device_jobs.h"
#include "library/fence.h"
#include "library/library_state.h"
#include "library/product_data_reads.h"
#include "library/recovery_dispatcher.h"
#include "library/recovery_registry.h"
#include "library/update_registry.h"

using namespace qs::kvxr;

namespace {

int32_t SetMode(int32_t mode, KVxR_RecoveryCallback cb) {
  qs::plat::HostWindow host = EnsureInitialised();
  if (mode == 0) {
    SetRecoveryModeOn(false);
    StopRecovery();
    InstallRecoveryDispatcher(nullptr);
    return KVXR_OK;
  }
  if (mode != 1) return KVXR_BAD_RECOVERY_MODE;
  if (!cb) return KVXR_NO_CALLBACK;
  qs::fw::CurrentFirmware fw = qs::fw::GetCurrentFirmware();
  if (!fw.image) return KVXR_NO_FIRMWARE;
  SetRecoveryModeOn(true);
  InstallRecoveryDispatcher(cb);
  // Nothing else programs a unit while recovery mode is on.
  StopUpdateJobs();
  ClearProductDataReads();
  RecoverySetup setup;
  setup.image = fw.image;
  setup.productData = WantsProductData(fw.major, fw.minor);
  setup.program = RamProgramBytes();
  setup.log = JobLogSink();
  StartRecovery(setup, host);
  return KVXR_OK;
}

}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_SetRecoveryMode(int32_t mode, KVxR_RecoveryCallback cb) {
  return Fenced(KVXR_BAD_RECOVERY_MODE, [&] { return SetMode(mode, cb); });
}

KVXR_API int32_t KVXR_CALL KVxR_ResumeRecovery(int32_t recoveryDevice) {
  return Fenced(KVXR_NO_RECOVERY_DEVICE, [&]() -> int32_t {
    uint32_t key = 0;
    if (!FindRecoveryKey(recoveryDevice, &key)) return KVXR_NO_RECOVERY_DEVICE;
    return ResumeRecoveryDevice(key);
  });
}
}
