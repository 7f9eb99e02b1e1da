// Notification windows: the one way work done on other threads reaches the
// thread that owns the host's windows. A notification window is a hidden child
// of the host window; posting to it never blocks, and its handler runs on the
// host's thread when that thread dispatches its messages.
//
// Windows: real child windows of the host's visible top-level window, with
// registered window messages; the host's own message loop dispatches them.
// Elsewhere there is no window system: the process has one host and one queue,
// which the host thread drains with DispatchNotifications.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::plat {

using NotifyWindow = uintptr_t;  // 0: none
using HostWindow = uintptr_t;    // 0: none

struct INotifyHandler {
  // A message of the window, on the window's thread; false passes it to the
  // system's default handling.
  virtual bool OnNotify(NotifyWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  // The window is being destroyed (by DestroyNotifyWindow or with its host).
  // Last call the handler gets for this window.
  virtual void OnNotifyDestroyed(NotifyWindow w) = 0;

 protected:
  ~INotifyHandler() = default;
};

// The message number of a name; the same name gives the same number. 0 on failure.
uint32_t RegisterNotifyMessage(const char* name);

// The first visible top-level window of this process (not a help viewer's
// parent window), or 0.
HostWindow FindHostWindow();

// A hidden child window of the host, in a window class of the given name
// registered for this module. 0 on failure. The handler must outlive the window.
NotifyWindow CreateNotifyWindow(HostWindow host, const char* className, INotifyHandler* handler);
bool IsNotifyWindow(NotifyWindow w);
// How many posted messages the host thread's queue holds at most: the system's
// quota on Windows (its default), the same limit elsewhere.
constexpr size_t kMaxPostedNotifications = 10000;

// Never blocks; false when the window is gone or the host's queue is full
// (the message is then dropped).
bool PostNotify(NotifyWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam);
// On the window's thread only.
bool DestroyNotifyWindow(NotifyWindow w);

// Runs pending notifications on the calling thread: waits up to timeoutMs for
// the first, then runs every one that is due. Returns how many ran, or -1 when
// called on a thread other than the host's.
int32_t DispatchNotifications(uint32_t timeoutMs);

// The host window goes away, and every notification window with it.
void DestroyHost(HostWindow host);

}  // namespace qs::plat
