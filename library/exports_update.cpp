// Firmware update: start an update job for a device of the current scan, and
// let go of one. Progress reaches the caller's callback on the host thread.
#include <algorithm>

#include "firmware/firmware_file_state.h"
#include "firmware/programmer_ex.h"
#include "library/KV-xR_update.h"
#include "library/library_state.h"
#include "library/update_registry.h"

using namespace qs::kvxr;

namespace {

constexpr int32_t kNoFirmware = -101;
constexpr int32_t kNotCreated = -102;
constexpr int32_t kRefusedInRecovery = -103;

// Firmware before 0.200 has no product-data area to look after.
bool WantsProductData(uint32_t major, uint32_t minor) { return !(major == 0 && minor < 200); }

int32_t StartUpdate(int32_t handle, KVxR_UpdateCallback cb) {
  qs::plat::HostWindow host = EnsureInitialised();
  if (RecoveryModeOn()) return kRefusedInRecovery;
  DeviceRecord r;
  int32_t st = LookUpDevice(handle, &r);
  if (st != kOk) return st;
  qs::fw::CurrentFirmware fw = qs::fw::GetCurrentFirmware();
  if (!fw.image) return kNoFirmware;
  // Without a host window nothing could be reported; without the RAM program
  // no boot loader could take firmware.
  qs::fw::ProgramBytes program = RamProgramBytes();
  if (!host || !program.data) return kNotCreated;

  qs::fw::UpdateJobConfig c;
  c.deviceAddress = r.address;
  c.adapter = qs::net::AdapterRecord{r.interfaceAddress, r.interfaceNetmask, r.interfaceDhcp};
  std::copy(r.mac, r.mac + 6, c.mac);
  std::copy(r.hardwareId, r.hardwareId + 16, c.deviceId);
  c.image = fw.image;
  c.productData = WantsProductData(fw.major, fw.minor);
  c.program = program;
  qs::Ref<qs::fw::IProgrammerEx> job;
  if (!qs::fw::CreateUpdateJob(c, JobLogSink().get(), &job)) return kNotCreated;
  qs::Ref<qs::IThreadEntry> entry;
  job->GetThreadEntry(&entry);
  // Entered before it runs: its first record finds the entry (the records
  // are delivered on this thread, after this call).
  AddUpdateJob(job.get(), handle, cb);
  if (!qs::RunOnPool(entry.get())) {
    RemoveUpdateJob(job.get());
    return kNotCreated;
  }
  job->WaitStarted();
  return kOk;
}

}  // namespace

extern "C" {

KVXR_API int32_t KVXR_CALL KVxR_UpdateFirmware(int32_t device, KVxR_UpdateCallback cb) {
  try {
    return StartUpdate(device, cb);
  } catch (...) {
    return kNotCreated;
  }
}

KVXR_API int32_t KVXR_CALL KVxR_AbortUpdate(int32_t device) {
  try {
    if (LookUpDevice(device, nullptr) != kOk) return kUnknownDevice;
    return AbortUpdateJob(device);
  } catch (...) {
    return kNoRunningUpdate;
  }
}
}
