// The stream jobs' way back to their update jobs (CallbackCtrl::SyncWnd): a
// stream job queues its records from its own thread; on the host thread each
// record goes to the listener registered under the record's job number. The
// update job's time-out on its stream job therefore also covers a host thread
// that stops dispatching.
#pragma once
#include <cstdint>

#include "firmware/programmer_notification.h"
#include "platform/notify.h"
#include "runtime/rc.h"

namespace qs::fw {

struct IStreamListener : IRefCounted {
  // Host thread, no lock held.
  virtual void OnStreamNotification(const ProgrammerNotification& n) = 0;
};

// Host thread: makes the window as a child of the host (replacing one of an
// earlier host). false when it cannot be made.
bool CreateCallbackCtrlWindow(plat::HostWindow host);
// Any thread. The registry holds a reference to the listener until Unregister.
void RegisterStreamListener(uint32_t job, IStreamListener* listener);
void UnregisterStreamListener(uint32_t job);
// Any thread: false when the record was dropped (no window).
bool PostStreamNotification(const ProgrammerNotification& n);

}  // namespace qs::fw
