// Recovery mode: on with the current firmware and a callback (updates and
// product-data work are then refused), off again; resuming a unit that
// recovery mode found.
#include "firmware/firmware_file_state.h"
#include "library/KV-xR_update.h"
#include "library/device_jobs.h"
#include "library/library_state.h"
#include "library/product_data_reads.h"
#include "library/recovery_dispatcher.h"
#include "library/recovery_registry.h"
#include "library/update_registry.h"

using namespace qs::kvxr;

namespace {

constexpr int32_t kNoFirmware = -101;
constexpr int32_t kBadMode = -102;

int32_t SetMode(int32_t mode, KVxR_RecoveryCallback cb) {
  qs::plat::HostWindow host = EnsureInitialised();
  if (mode == 0) {
    SetRecoveryModeOn(false);
    StopRecovery();
    InstallRecoveryDispatcher(nullptr);
    return kOk;
  }
  if (mode != 1) return kBadMode;
  if (!cb) return kUnknownDevice;
  qs::fw::CurrentFirmware fw = qs::fw::GetCurrentFirmware();
  if (!fw.image) return kNoFirmware;
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
  return kOk;
}

}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_SetRecoveryMode(int32_t mode, KVxR_RecoveryCallback cb) {
  try {
    return SetMode(mode, cb);
  } catch (...) {
    return kBadMode;
  }
}

KVXR_API int32_t KVXR_CALL KVxR_ResumeRecovery(int32_t recoveryDevice) {
  try {
    uint32_t key = 0;
    if (!FindRecoveryKey(recoveryDevice, &key)) return kUnknownDevice;
    return ResumeRecoveryDevice(key);
  } catch (...) {
    return kUnknownDevice;
  }
}
}
