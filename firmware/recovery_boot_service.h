// Recovery mode's service for units stuck in an older boot loader: while it is
// attached to an adapter's boot-message watcher (boot_msg_watcher.h), a boot
// message from any MAC address that no update job registered is served as an
// update job would serve it: an offer of an address, then the upload of the
// RAM program (older_bootloader_support.h). One session per MAC address at a
// time; a unit that sends its boot message again after its session has ended
// gets a new one.
//
// Detaching from the watchers (the end of a listening period) lets running
// sessions finish: a loader left half-way through an upload would wait for
// ever. Cancel ends them all (recovery mode off).
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/streamer.h"
#include "net/adapter_record.h"
#include "runtime/log_sink.h"
#include "runtime/rc.h"

namespace qs::fw {

struct IRecoveryBootService : IRefCounted {
  // Serves boot messages heard on the adapter from now on. false when no
  // watcher could be started there.
  virtual bool Attach(const net::AdapterRecord& adapter) = 0;
  // Hears no more boot messages; running sessions go on.
  virtual void DetachAll() = 0;
  // Ends every session and hears no more.
  virtual void Cancel() = 0;
  // Sessions started so far, and those still under way (for tests and logs).
  virtual size_t SessionsStarted() = 0;
  virtual size_t SessionsRunning() = 0;
};

bool CreateRecoveryBootService(const ProgramBytes& program, ILogSink* log, Ref<IRecoveryBootService>* out);

}  // namespace qs::fw
