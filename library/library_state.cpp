#include "library/library_state.h"

#include <new>

#include "firmware/callback_ctrl.h"
#include "firmware/progress_route.h"
#include "library/product_data_reads.h"
#include "library/ram_program.h"
#include "library/recovery_dispatcher.h"
#include "library/recovery_registry.h"
#include "library/scanner.h"
#include "library/update_registry.h"
#include "platform/lock.h"
#include "platform/sha1.h"
#include "platform/socket.h"
#include "runtime/syncwnd.h"
#include "runtime/thread.h"

namespace qs::kvxr {

namespace {

struct LibraryState {
  plat::RecursiveLock lock;
  bool initialised = false;
  plat::HostWindow host = 0;
  Ref<IScanResult> current;
  Ref<ILogSink> log;
  fw::ProgramBytes ramProgram;
  bool recovery = false;
};

LibraryState& State() {
  static LibraryState* s = new LibraryState;  // outlives static destructors
  return *s;
}

// Carries no payload: its end is the host window's end, and the library's.
// It keeps the sockets library started while it exists.
class FinWnd : public SyncWnd {
 protected:
  bool OnMessage(uint32_t, uintptr_t, intptr_t) override { return false; }
  void OnDestroy() override { ShutdownLibrary(); }

 private:
  plat::SocketsLibrary sockets_;
};

}  // namespace

plat::HostWindow EnsureInitialised() {
  RunStalledNotifications();
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  if (s.initialised) return s.host;
  plat::HostWindow host = plat::FindHostWindow();
  if (!host) return 0;
  // The first digest sets the crypto library up for the process; done here,
  // on the host thread, that one-time state is not left to a pooled thread
  // that ends before the process does.
  uint8_t digest[plat::kSha1Size];
  plat::Sha1Digest("", 0, digest);
  RamProgram program;
  if (FindRamProgram(program) == RamProgramStatus::Found) {
    s.ramProgram.data = program.data;
    s.ramProgram.size = program.size;
  }
  // Without these windows an update cannot report; it is then refused.
  if (!fw::CreateProgressWindow(host) || !fw::CreateCallbackCtrlWindow(host)) return 0;
  fw::AddWindowListener(&DispatchFirmwareProgress);
  auto* fin = new (std::nothrow) FinWnd;
  if (!fin) return 0;
  if (!fin->Create(host, "KVxR_AutoCleanup_FinWnd")) {
    delete fin;
    return 0;
  }
  s.host = host;
  s.initialised = true;
  ReopenPool();  // after the shutdown of an earlier host
  return host;
}

bool IsInitialised() {
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  return s.initialised;
}

Ref<IScanResult> CurrentScanResult() {
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  return s.current;
}

void SetCurrentScanResult(IScanResult* result) {
  Ref<IScanResult> old;
  {
    LibraryState& s = State();
    plat::ScopedLock l(s.lock);
    old = std::move(s.current);
    s.current = result;
  }
  // The old result is released outside the lock.
}

int32_t LookUpDevice(int32_t handle, DeviceRecord* out) {
  Ref<IScanResult> r = CurrentScanResult();
  if (!r || !r->Find(handle, out)) return KVXR_UNKNOWN_DEVICE;
  return KVXR_OK;
}

void SetJobLogSink(ILogSink* sink) {
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  s.log = sink;
}

Ref<ILogSink> JobLogSink() {
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  return s.log;
}

fw::ProgramBytes RamProgramBytes() {
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  return s.ramProgram;
}

bool RecoveryModeOn() {
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  return s.recovery;
}

void SetRecoveryModeOn(bool on) {
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  s.recovery = on;
}

void ShutdownLibrary() {
  // No callback reaches a host that is going: the update jobs leave the
  // registry first, then the pool's shutdown ends every running job.
  ClearUpdateJobs();
  ClearProductDataReads();
  // Recovery mode ends with its host: its listening winds up before the pool goes.
  StopRecovery();
  InstallRecoveryDispatcher(nullptr);
  SetRecoveryModeOn(false);
  WindUpScans();
  ShutdownPool();
  LibraryState& s = State();
  plat::ScopedLock l(s.lock);
  s.initialised = false;
  s.host = 0;
}

}  // namespace qs::kvxr
