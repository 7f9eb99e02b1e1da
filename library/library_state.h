// What the library keeps for the whole process: the host window and the
// lazy initialisation, the shutdown that follows the host window's end, and
// the current scan result through which the exports find devices.
#pragma once
#include <cstdint>

#include "firmware/streamer.h"
#include "library/KV-xR_update.h"
#include "library/device_record.h"
#include "library/fence.h"
#include "library/scan_result.h"
#include "platform/notify.h"
#include "runtime/log_sink.h"
#include "runtime/rc.h"

namespace qs::kvxr {

// Runs once per host window: finds the caller's visible top-level window,
// finds the RAM program, makes the firmware jobs' notification windows and the
// shutdown window its children, registers the firmware-progress dispatcher (the thread pool takes work again after
// an earlier shutdown). Returns the host, or 0 when the process shows no
// window yet (the next call tries again). Every call also delivers, on this
// host thread, notifications whose posting the host's full queue refused.
plat::HostWindow EnsureInitialised();
bool IsInitialised();

// The boot-time RAM program found at initialisation (empty when the module
// carries none).
fw::ProgramBytes RamProgramBytes();

// Recovery mode is on (updates and product-data work are refused).
bool RecoveryModeOn();
void SetRecoveryModeOn(bool on);

// The current scan result, with a new reference (null when there is none).
Ref<IScanResult> CurrentScanResult();
void SetCurrentScanResult(IScanResult* result);

// Copies the record of the handle from the current result: KVXR_OK, or
// KVXR_UNKNOWN_DEVICE when there is no current result or the handle is not in it.
int32_t LookUpDevice(int32_t handle, DeviceRecord* out);

// The frame of an export that acts on one device of the current scan: no
// exception leaves it (onException instead); the library is initialised
// first when the export does that; an unknown handle gives
// KVXR_UNKNOWN_DEVICE before body(record) runs.
enum class Initialise { No, Yes };
template <class Body>
int32_t WithDevice(int32_t handle, Initialise init, int32_t onException, Body&& body) noexcept {
  return Fenced(onException, [&]() -> int32_t {
    if (init == Initialise::Yes) EnsureInitialised();
    DeviceRecord r;
    int32_t st = LookUpDevice(handle, &r);
    if (st != KVXR_OK) return st;
    return body(r);
  });
}

// The host window went away: winds up the scans and stops the thread pool.
// The next initialising call starts afresh.
void ShutdownLibrary();

// Where the library's jobs (scans, set-config, reboot) tell what they do;
// none by default.
void SetJobLogSink(ILogSink* sink);
Ref<ILogSink> JobLogSink();

}  // namespace qs::kvxr
