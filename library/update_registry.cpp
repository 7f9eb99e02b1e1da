#include "library/update_registry.h"

#include <vector>

#include "library/library_state.h"
#include "platform/lock.h"

namespace qs::kvxr {

namespace {

struct Entry {
  Ref<fw::IProgrammerEx> job;
  uint32_t number = 0;
  int32_t handle = 0;
  KVxR_UpdateCallback cb = nullptr;
  Ref<IPoolJob> control;
};

struct Registry {
  plat::RecursiveLock lock;
  std::vector<Entry> entries;  // in the order the jobs started
};

Registry& R() {
  static Registry* r = new Registry;  // outlives static destructors
  return *r;
}

}  // namespace

void AddUpdateJob(fw::IProgrammerEx* job, int32_t handle, KVxR_UpdateCallback cb) {
  Entry e;
  e.job = job;
  e.number = job->GetJobId();
  e.handle = handle;
  e.cb = cb;
  plat::ScopedLock l(R().lock);
  R().entries.push_back(std::move(e));
}

void SetUpdateJobControl(fw::IProgrammerEx* job, IPoolJob* control) {
  plat::ScopedLock l(R().lock);
  for (Entry& e : R().entries)
    if (e.job.get() == job) e.control = control;
}

void StopUpdateJobs() {
  std::vector<Entry> gone;  // released outside the lock
  {
    plat::ScopedLock l(R().lock);
    gone.swap(R().entries);
  }
  for (Entry& e : gone)
    if (e.control) e.control->Stop();
}

int32_t AbortUpdateJob(int32_t handle) {
  Entry taken;  // released outside the lock
  plat::ScopedLock l(R().lock);
  for (auto it = R().entries.begin(); it != R().entries.end(); ++it) {
    if (it->handle != handle) continue;
    taken = std::move(*it);
    R().entries.erase(it);
    return KVXR_OK;
  }
  return KVXR_NO_RUNNING_UPDATE;
}

void RemoveUpdateJob(fw::IProgrammerEx* job) {
  Entry taken;  // released outside the lock
  plat::ScopedLock l(R().lock);
  for (auto it = R().entries.begin(); it != R().entries.end(); ++it) {
    if (it->job.get() != job) continue;
    taken = std::move(*it);
    R().entries.erase(it);
    return;
  }
}

void ClearUpdateJobs() {
  std::vector<Entry> gone;  // released outside the lock
  plat::ScopedLock l(R().lock);
  gone.swap(R().entries);
}

size_t RunningUpdateCount() {
  plat::ScopedLock l(R().lock);
  return R().entries.size();
}

void DispatchFirmwareProgress(const fw::ProgrammerNotification& n) {
  Entry e;
  {
    plat::ScopedLock l(R().lock);
    auto it = R().entries.begin();
    while (it != R().entries.end() && it->number != n.job) ++it;
    if (it == R().entries.end()) return;  // aborted, or not an update job of the exports
    if (n.kind == fw::kKindEnded) {
      e = std::move(*it);
      R().entries.erase(it);
    } else {
      e.handle = it->handle;
      e.cb = it->cb;
    }
  }
  if (e.cb) e.cb(e.handle, n.kind, n.kind == fw::kKindEnded ? n.result : n.value);
}

}  // namespace qs::kvxr
