#include "library/device_jobs.h"

#include <algorithm>

#include "library/library_state.h"
#include "library/update_registry.h"

namespace qs::kvxr {

namespace {
}  // namespace

int32_t LookUpForDeviceJob(int32_t handle, DeviceRecord* out) {
  EnsureInitialised();
  if (RecoveryModeOn()) return KVXR_IN_RECOVERY;
  return LookUpDevice(handle, out);
}

int32_t StartDeviceJob(const DeviceRecord& r, int32_t handle, const DeviceJob& wanted, KVxR_UpdateCallback cb) {
  const fw::ProgramBytes program = RamProgramBytes();
  if (!IsInitialised() || !program.data) return KVXR_NOT_CREATED;
  fw::UpdateJobConfig c;
  c.deviceAddress = r.address;
  c.adapter = net::AdapterRecord{r.interfaceAddress, r.interfaceNetmask, r.interfaceDhcp};
  std::copy(r.mac, r.mac + 6, c.mac);
  std::copy(r.hardwareId, r.hardwareId + 16, c.deviceId);
  c.work = wanted.work;
  c.image = wanted.image;
  c.productData = wanted.productData;
  c.productBuffer = wanted.buffer;
  c.program = program;
  Ref<fw::IProgrammerEx> job;
  if (!fw::CreateUpdateJob(c, JobLogSink().get(), &job)) return KVXR_NOT_CREATED;
  Ref<IThreadEntry> entry;
  job->GetThreadEntry(&entry);
  // Entered before it runs: its first record finds the entry (the records
  // are delivered on this thread, after this call).
  AddUpdateJob(job.get(), handle, cb);
  Ref<IPoolJob> control;
  if (!RunOnPool(entry.get(), &control)) {
    RemoveUpdateJob(job.get());
    return KVXR_NOT_CREATED;
  }
  SetUpdateJobControl(job.get(), control.get());
  job->WaitStarted();
  return KVXR_OK;
}

}  // namespace qs::kvxr
