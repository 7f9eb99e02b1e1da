// The frame of a library job: one short datagram exchange with a device, run
// on a pooled thread while the exported function that started it waits for
// its integer result. A job type supplies only its body.
#pragma once
#include <cstdint>
#include <new>
#include <utility>

#include "net/udp_endpoint.h"
#include "platform/event.h"
#include "runtime/rc.h"
#include "runtime/thread.h"

namespace qs::net {

constexpr int32_t kJobNotStarted = -101;
// How long after its own time budget a waiter gives a job to end before it
// stops it, and then how long it waits for the stopped job.
constexpr uint32_t kJobEndGraceMs = 2000;
constexpr uint32_t kJobStopGraceMs = 2000;

struct IWorker : IRefCounted {
  // The job's thread-pool entry (a new reference).
  virtual IThreadEntry* Entry() = 0;
  // Blocks until the job has finished; its result.
  virtual int32_t Wait() = 0;
};

// Base of every job. Run starts the sockets library for the job's thread,
// runs Body under the job's deadline, stores the result and then signals, so
// a waiter always reads the finished result.
class Worker : public InterfaceImpl<IWorker>, public InterfaceImpl<IThreadEntry> {
 public:
  explicit Worker(uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}
  virtual ~Worker() = default;

  bool Init() { return done_.Create(true, false); }

  IThreadEntry* Entry() override {
    IThreadEntry* e = static_cast<IThreadEntry*>(this);
    e->AddRef();
    return e;
  }
  // Waits no longer than the job's budget and kJobEndGraceMs; a job that has
  // not ended by then still ends later, unseen.
  int32_t Wait() override {
    if (!done_.Wait(timeoutMs_ + kJobEndGraceMs)) return kJobNotStarted;
    return result_;
  }
  // true once the job has ended (its result is then final), within the time.
  bool WaitDone(uint32_t ms) { return done_.Wait(ms); }
  int32_t result() const { return result_; }
  uint32_t timeoutMs() const { return timeoutMs_; }
  void Run(const plat::Event& stop) override;

 protected:
  // The exchange itself; returns the job's result. `stop` ends it early
  // (library shutdown).
  virtual int32_t Body(const Deadline& deadline, const plat::Event& stop) = 0;

 private:
  uint32_t timeoutMs_;
  plat::Event done_;
  int32_t result_ = 0;
};

// Waits for a job on the pool: its time budget and a grace; then it is
// stopped (its socket waits end on its stop event) and waited for once more.
// notStarted when it did not end even so.
int32_t WaitForJob(IWorker* w, IPoolJob* control, uint32_t budgetMs, int32_t notStarted);

// Creates the job (Job derives from Worker; args go to its constructor), runs
// it on the pool and waits for its result; notStarted when it could not be
// created or queued (the pool is shut down), or did not end.
template <class Job, class... Args>
int32_t RunJobAndWait(int32_t notStarted, Args&&... args) {
  auto* job = new (std::nothrow) RCObject2Ex<Job>(std::forward<Args>(args)...);
  if (!job) return notStarted;
  IWorker* w = static_cast<IWorker*>(job);
  w->AddRef();
  if (!job->Init()) {
    w->Release();
    return notStarted;
  }
  IThreadEntry* entry = w->Entry();
  Ref<IPoolJob> control;
  bool queued = RunOnPool(entry, &control);
  entry->Release();
  int32_t r = queued ? WaitForJob(w, control.get(), job->timeoutMs(), notStarted) : notStarted;
  w->Release();
  return r;
}

}  // namespace qs::net
