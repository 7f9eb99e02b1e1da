// The console front end's side of the library's notifications. The library
// delivers device callbacks on the thread that called it: on Windows through
// hidden child windows of a visible top-level window of the process, on
// Linux when that thread asks for them (KVxR_DispatchNotifications). A
// command that scans opens the host once and then lets notifications run
// while it waits.
#pragma once
#include <atomic>
#include <cstdint>

namespace qs::cli {

class LibraryHost {
 public:
  LibraryHost() = default;
  ~LibraryHost() { Close(); }
  LibraryHost(const LibraryHost&) = delete;
  LibraryHost& operator=(const LibraryHost&) = delete;

  // Windows: a small tool window, visible but out of the way (no taskbar
  // button, never activated). false when it cannot be made.
  bool Open();
  // Ends the library's work (its scans and threads) with the window.
  void Close();

  // Runs notifications on this thread for up to ms milliseconds, returning
  // early once *until becomes true (checked between notifications).
  void Run(uint32_t ms, const std::atomic<bool>* until = nullptr);

 private:
  void* window_ = nullptr;
};

}  // namespace qs::cli
