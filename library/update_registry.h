// The update jobs started through KVxR_UpdateFirmware: each with the device
// handle and the callback its records go to. The firmware-progress
// dispatcher runs on the host thread (a window listener of progress_route.h)
// and calls the job's callback with no lock held. A job leaves the registry
// when its final record has been delivered, or through an abort (after which
// nothing of it reaches the caller), or at library shutdown.
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/programmer_ex.h"
#include "firmware/programmer_notification.h"
#include "library/KV-xR_update.h"
#include "runtime/thread.h"

namespace qs::kvxr {

void AddUpdateJob(fw::IProgrammerEx* job, int32_t handle, KVxR_UpdateCallback cb);
// The job's pool submission, through which it can be stopped.
void SetUpdateJobControl(fw::IProgrammerEx* job, IPoolJob* control);
// Recovery mode begins: every job is stopped (it reports nothing more) and
// every entry goes, without a call.
void StopUpdateJobs();
// Takes the first running job of the handle out: KVXR_OK, or KVXR_NO_RUNNING_UPDATE.
int32_t AbortUpdateJob(int32_t handle);
// Takes the job out without a call (it could not be started).
void RemoveUpdateJob(fw::IProgrammerEx* job);
// Library shutdown: every entry goes, without a call.
void ClearUpdateJobs();
size_t RunningUpdateCount();

// The dispatcher (registered at initialisation).
void DispatchFirmwareProgress(const fw::ProgrammerNotification& n);

}  // namespace qs::kvxr
