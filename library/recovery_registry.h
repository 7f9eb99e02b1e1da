// Recovery mode's registry (M): finds KV-xR units that wait in their boot
// loader and, on the caller's word, programs the recovery image into them.
//
// While recovery mode is on, M runs listening periods on a pooled thread. A
// period holds, on every local adapter, the recovery listener
// (recovery_listener.h, with a handler of its own so that it hears every unit
// afresh), a RAM-program streamer without device identifiers and without time
// limit (streamer.h) and the boot-message watcher with the older-loader
// service for any MAC address (recovery_boot_service.h). Each unit a
// listener reports becomes a device of the registry, keyed by a number of its
// own, and raises events 1, 2 (100) and 3 through the recovery window
// (recovery_dispatcher.h).
//
// Resuming a device ends the period and starts a stream job (programmer_xx.h)
// against the port the unit announced; its progress becomes event 4 and its
// end event 5, 6 or 7. When the last running recovery programmer has ended
// and recovery mode is still on, a new period begins, so that units that
// announce later (or fall back into their boot loader) are found. Reports of
// a unit whose programmer runs are ignored.
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/binary_image.h"
#include "firmware/streamer.h"
#include "platform/notify.h"
#include "runtime/log_sink.h"

namespace qs::kvxr {

struct RecoverySetup {
  Ref<fw::IBinaryImage> image;
  bool productData = false;  // the image's version asks for the product-data step
  fw::ProgramBytes program;  // the boot-time RAM program
  Ref<ILogSink> log;
};

// How long Stop waits for the run loop to wind a period up.
constexpr uint32_t kRecoveryStopWaitMs = 15000;

// Host thread. Keeps the setup, makes the recovery window and begins a
// listening period (a period under way goes on; the next begins when it ends).
// Failures end it silently.
void StartRecovery(const RecoverySetup& setup, plat::HostWindow host);
// Host thread. Ends the listening (waits for the period to wind up) and forgets
// every device. Running programmers finish; their outcome is not reported.
// Returns at once when recovery was never started.
void StopRecovery();
// The device with this key: ends the period and starts its programmer. KVXR_OK, or
// KVXR_NO_RECOVERY_DEVICE when there is no such device or no programmer could be started.
int32_t ResumeRecoveryDevice(uint32_t key);

// For tests.
size_t RecoveryDeviceCount();
size_t RecoveryProgrammerCount();
bool RecoveryListening();
uint64_t RecoveryPeriodsStarted();

}  // namespace qs::kvxr
