// Re-entrant lock (a critical section on Windows). The owning thread may take it
// again, which the scan table's enumeration relies on.
#pragma once
#include <mutex>

namespace qs::plat {

class RecursiveLock {
 public:
  RecursiveLock() = default;
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;
  void Enter() { m_.lock(); }
  void Leave() { m_.unlock(); }

 private:
  std::recursive_mutex m_;
};

class ScopedLock {
 public:
  explicit ScopedLock(RecursiveLock& l) : l_(l) { l_.Enter(); }
  ~ScopedLock() { l_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  RecursiveLock& l_;
};

}  // namespace qs::plat
