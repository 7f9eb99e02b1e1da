// Hosting the library on a thread that has no message loop of its own (the
// console front end, the tests). The library delivers its callbacks on the
// thread that called it: on Windows through hidden child windows of a visible
// top-level window of the process, which this thread's messages drive; on
// Linux when that thread asks for them (KVxR_DispatchNotifications). Open the
// host once, then let notifications run while waiting.
#pragma once
#include <atomic>
#include <cstdint>

namespace qs::kvxr {

class LibraryHost {
 public:
  LibraryHost() = default;
  ~LibraryHost() { Close(); }
  LibraryHost(const LibraryHost&) = delete;
  LibraryHost& operator=(const LibraryHost&) = delete;

  // Windows: a small tool window, visible but out of the way (no taskbar
  // button, never activated); false when it cannot be made. Linux: the
  // library makes this thread its host on the first call; nothing to open.
  bool Open();
  // Windows: destroys the window, and with it the library's windows, which
  // ends the library's work (its scans and threads). Linux: nothing.
  void Close();
  // The window (Windows), 0 elsewhere.
  uintptr_t window() const { return window_; }

  // Runs notifications on this thread for up to ms milliseconds, returning
  // early once *until becomes true (checked after every notification and at
  // least every 20 ms, since another thread may set it).
  void Run(uint32_t ms, const std::atomic<bool>* until = nullptr) const;

 private:
  uintptr_t window_ = 0;
};

}  // namespace qs::kvxr
