// The update jobs' way to the host thread (ProgrammerEx::SyncWnd): a job
// posts its records from its own thread; on the host thread every registered
// window listener hears each record, in order, with no lock held. Records
// posted while no window exists (before the library's initialisation, after
// the host window has gone) or while no listener is registered are dropped.
#pragma once
#include <cstdint>

#include "firmware/programmer_notification.h"
#include "platform/notify.h"

namespace qs::fw {

using WindowListener = void (*)(const ProgrammerNotification& n);

// Host thread: makes the window as a child of the host (replacing one of an
// earlier host). false when it cannot be made.
bool CreateProgressWindow(plat::HostWindow host);
// Any thread.
void AddWindowListener(WindowListener fn);
void RemoveWindowListener(WindowListener fn);
// Any thread: false when the record was dropped.
bool PostProgress(const ProgrammerNotification& n);

}  // namespace qs::fw
