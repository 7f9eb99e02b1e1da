#include "library/recovery_registry.h"

#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "firmware/callback_ctrl.h"
#include "firmware/programmer_notification.h"
#include "firmware/programmer_xx.h"
#include "firmware/recovery_boot_service.h"
#include "library/library_state.h"
#include "library/recovery_dispatcher.h"
#include "library/recovery_listener.h"
#include "net/adapters.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "runtime/bytes.h"
#include "runtime/thread.h"

namespace qs::kvxr {

namespace {

// One unit a listener reported (M::DeviceInfo).
struct DeviceInfo : IRefCounted {
  uint32_t key = 0;
  uint32_t address = 0;
  uint16_t port = 0;
  uint32_t programmer = 0;  // the stream job's number, once resumed
  uint8_t mac[6] = {};
  uint8_t id[16] = {};
  net::AdapterRecord adapter;

  RecoveryEvent EventRecord(int32_t event, int32_t a, int32_t b) const {
    RecoveryEvent e;
    std::memcpy(e.mac, mac, 6);
    e.address = address;
    e.port = port;
    e.adapter = adapter;
    e.event = event;
    e.valueA = a;
    e.valueB = b;
    e.key = key;
    return e;
  }
};

struct Programmer {
  Ref<DeviceInfo> device;
  Ref<IPoolJob> control;
};

class Registry;
Registry& M();

// A listening period's ear on one listener: every unit, once per period.
class PeriodHandler : public IRecoveryHandler {
 public:
  void OnRecoveryReport(const RecoveryReport& r) override;
};

// The recovery programmers' records, on the host thread.
class ProgressListener : public fw::IStreamListener {
 public:
  void OnStreamNotification(const fw::ProgrammerNotification& n) override;
};

class Registry : public IThreadEntry {
 public:
  void Start(const RecoverySetup& setup, plat::HostWindow host) {
    Ref<IPoolJob> ending;  // a run loop that an earlier stop could not wait out
    {
      plat::ScopedLock l(lock_);
      setup_ = setup;  // 1. the recovery image (and what goes with it)
      if (job_ && quit_.valid() && quit_.IsSet()) ending = job_;
    }
    if (ending && !ending->WaitEnded(kRecoveryStopWaitMs)) return;
    // 2. the window that carries the events
    if (!EnsureRecoveryWindow(host)) return;
    plat::ScopedLock l(lock_);
    // 3. the events, where missing
    if (!start_.valid() && !start_.Create(false, false)) return;
    if (!stop_.valid() && !stop_.Create(false, false)) return;
    if (!quit_.valid() && !quit_.Create(true, false)) return;
    if (!finished_.valid() && !finished_.Create(true, false)) return;
    if (!boot_ && !fw::CreateRecoveryBootService(setup.program, setup.log.get(), &boot_)) return;
    on_ = true;
    // 4. the run loop, once
    if (!job_ || job_->Ended()) {
      quit_.Reset();
      finished_.Reset();
      IThreadEntry* self = this;
      if (!RunOnPool(self, &job_)) {
        job_.reset();
        on_ = false;
        return;
      }
    }
    // 5. a listening period
    stop_.Reset();
    start_.Set();
  }

  void Stop() {
    Ref<IPoolJob> job;
    Ref<fw::IRecoveryBootService> boot;
    {
      plat::ScopedLock l(lock_);
      on_ = false;
      job = job_;
      boot = std::move(boot_);
      if (job) {
        quit_.Set();
        stop_.Set();
      }
    }
    if (job && job->WaitEnded(kRecoveryStopWaitMs)) {
      plat::ScopedLock l(lock_);
      if (job_.get() == job.get()) job_.reset();
    }
    if (boot) boot->Cancel();  // half-way uploads end with recovery mode
    std::map<uint32_t, Ref<DeviceInfo>> gone;  // released outside the lock
    std::map<uint32_t, Programmer> running;
    {
      plat::ScopedLock l(lock_);
      gone.swap(devices_);
      running.swap(programmers_);
    }
    // Running programmers finish on their own; nobody hears of them.
    for (const auto& p : running) fw::UnregisterStreamListener(p.first);
  }

  int32_t Resume(uint32_t key) {
    Ref<DeviceInfo> d;
    RecoverySetup setup;
    {
      plat::ScopedLock l(lock_);
      auto it = devices_.find(key);
      if (it == devices_.end() || !on_) return KVXR_NO_RECOVERY_DEVICE;
      d = it->second;
      devices_.erase(it);  // a device is programmed once
      setup = setup_;
      stop_.Set();  // the period ends
    }
    fw::StreamJobConfig c;
    c.address = d->address;
    c.port = d->port;
    c.localAddress = d->adapter.address;
    c.image = setup.image;
    c.productData = setup.productData;
    std::memcpy(c.deviceId, d->id, 16);
    JobLog log(setup.log.get(), "recovery");
    Ref<fw::IProgrammer> stream;
    Ref<IPoolJob> control;
    plat::ScopedLock l(lock_);
    if (!fw::CreateStreamJob(c, setup.log.get(), &stream)) {
      log(LogKind::Outcome, "no programmer for %s", bytes::FormatIpv4(d->address).c_str());
      ListenAgainIfIdle();
      return KVXR_NO_RECOVERY_DEVICE;
    }
    const uint32_t number = stream->GetJobId();
    fw::RegisterStreamListener(number, &listener_);
    if (!stream->Start(&control)) {
      fw::UnregisterStreamListener(number);
      log(LogKind::Outcome, "the programmer for %s could not be started", bytes::FormatIpv4(d->address).c_str());
      ListenAgainIfIdle();
      return KVXR_NO_RECOVERY_DEVICE;
    }
    d->programmer = number;
    programmers_[number] = Programmer{d, control};
    log(LogKind::Note, "programming %s (%s) at port %u", bytes::FormatMac(d->mac).c_str(),
        bytes::FormatIpv4(d->address).c_str(), d->port);
    return KVXR_OK;
  }

  void OnDeviceFound(const RecoveryReport& r) {
    Ref<DeviceInfo> d;
    std::vector<Ref<DeviceInfo>> replaced;  // released outside the lock
    {
      plat::ScopedLock l(lock_);
      if (!on_) return;
      for (const auto& p : programmers_)
        if (std::memcmp(p.second.device->mac, r.mac, 6) == 0) return;  // being programmed
      auto* made = new (std::nothrow) RCObject2<DeviceInfo>();
      if (!made) return;
      d = made;
      d->key = ++nextKey_;
      d->address = r.address;
      d->port = r.port;
      std::memcpy(d->mac, r.mac, 6);
      std::memcpy(d->id, r.id, 16);
      d->adapter = r.adapter;
      // An earlier report of the same unit can no longer be resumed.
      for (auto it = devices_.begin(); it != devices_.end();) {
        if (std::memcmp(it->second->mac, r.mac, 6) == 0) {
          replaced.push_back(std::move(it->second));
          it = devices_.erase(it);
        } else {
          ++it;
        }
      }
      devices_[d->key] = d;
    }
    PostRecoveryEvent(d->EventRecord(KVXR_RECOVERY_FOUND, 0, 0));
    PostRecoveryEvent(d->EventRecord(KVXR_RECOVERY_PREPARED, 100, 0));
    PostRecoveryEvent(d->EventRecord(KVXR_RECOVERY_READY, 0, 0));
  }

  void OnProgrammer(const fw::ProgrammerNotification& n) {
    RecoveryEvent e;
    Programmer ended;  // released outside the lock
    {
      plat::ScopedLock l(lock_);
      auto it = programmers_.find(n.job);
      if (it == programmers_.end()) return;
      if (n.kind == fw::kKindProgramming) {
        e = it->second.device->EventRecord(KVXR_RECOVERY_PROGRESS, n.value, 0);
      } else if (n.kind == fw::kKindEnded) {
        const int32_t event = n.result >= 1 ? KVXR_RECOVERY_PROGRAMMED : n.result == 0 ? KVXR_RECOVERY_UP_TO_DATE : KVXR_RECOVERY_FAILED;
        e = it->second.device->EventRecord(event, 0, n.result);
        ended = std::move(it->second);
        programmers_.erase(it);
      } else {
        return;
      }
    }
    // The records arrive on the host thread already; they go the recovery
    // window's way all the same, behind the events raised before them.
    PostRecoveryEvent(e);
    if (ended.device) {
      fw::UnregisterStreamListener(n.job);
      plat::ScopedLock l(lock_);
      ListenAgainIfIdle();
    }
  }

  void Run(const plat::Event& poolStop) override {
    try {
      Loop(poolStop);
    } catch (...) {
      // out of memory: recovery listens no more until it is switched on again
    }
    std::map<uint32_t, Ref<DeviceInfo>> gone;
    {
      plat::ScopedLock l(lock_);
      gone.swap(devices_);
      listening_ = false;
    }
    finished_.Set();
  }

  size_t DeviceCount() {
    plat::ScopedLock l(lock_);
    return devices_.size();
  }
  size_t ProgrammerCount() {
    plat::ScopedLock l(lock_);
    return programmers_.size();
  }
  bool Listening() {
    plat::ScopedLock l(lock_);
    return listening_;
  }
  uint64_t Periods() {
    plat::ScopedLock l(lock_);
    return periods_;
  }

 private:
  // Under lock_: the last programmer has ended while recovery mode is on.
  void ListenAgainIfIdle() {
    if (!on_ || !programmers_.empty() || !job_) return;
    stop_.Reset();
    start_.Set();
  }

  void Loop(const plat::Event& poolStop) {
    const plat::WaitObject waits[3] = {poolStop.object(), start_.object(), quit_.object()};
    for (;;) {
      uint32_t w = plat::WaitAny(waits, 3, plat::kInfinite);
      if (w != 1) return;  // the pool's stop, quit, or a failed wait
      Period(poolStop);
    }
  }

  struct Held {
    Ref<IScanner> listener;
    Ref<fw::IStreamingProgrammer> stream;
  };

  void Period(const plat::Event& poolStop) {
    RecoverySetup setup;
    Ref<fw::IRecoveryBootService> boot;
    {
      plat::ScopedLock l(lock_);
      if (!on_) return;
      setup = setup_;
      boot = boot_;
      listening_ = true;
      ++periods_;
    }
    JobLog log(setup.log.get(), "recovery");
    auto* handler = new (std::nothrow) RCObject2<PeriodHandler>();
    Ref<IRecoveryHandler> handlerRef(handler);
    std::vector<Held> held;
    net::InterfaceList list(true);
    if (handler && list.Build()) {
      for (const net::InterfaceEntry& e : list.entries()) {
        const net::AdapterRecord adapter{e.address, e.netmask, e.dhcp};
        Held h;
        if (boot && !boot->Attach(adapter))
          log(LogKind::Outcome, "no boot-message watcher on %s", bytes::FormatIpv4(e.address).c_str());
        if (!GetRecoveryListener(adapter, setup.log.get(), &h.listener) || !h.listener->AddHandler(handler)) {
          log(LogKind::Outcome, "no recovery listener on %s", bytes::FormatIpv4(e.address).c_str());
          h.listener.reset();
        }
        if (setup.program.data &&
            !fw::RegisterForStreaming(adapter, nullptr, fw::kStreamLifetimeForever, setup.program, &h.stream))
          log(LogKind::Outcome, "no RAM-program stream on %s", bytes::FormatIpv4(e.address).c_str());
        held.push_back(std::move(h));
      }
      log(LogKind::Note, "listening on %u adapters", static_cast<unsigned>(held.size()));
    } else {
      log(LogKind::Outcome, "no local adapters could be listed");
    }
    const plat::WaitObject waits[3] = {poolStop.object(), stop_.object(), quit_.object()};
    plat::WaitAny(waits, 3, plat::kInfinite);
    for (Held& h : held)
      if (h.listener) h.listener->RemoveHandler(handler);
    held.clear();  // listeners and streamers stop with their last holder
    if (boot) boot->DetachAll();
    plat::ScopedLock l(lock_);
    listening_ = false;
  }

  plat::RecursiveLock lock_;
  RecoverySetup setup_;
  bool on_ = false;
  Ref<IPoolJob> job_;
  Ref<fw::IRecoveryBootService> boot_;
  plat::Event start_, stop_, quit_, finished_;
  std::map<uint32_t, Ref<DeviceInfo>> devices_;
  uint32_t nextKey_ = 0;
  std::map<uint32_t, Programmer> programmers_;
  RCObject2WithoutDeleting<ProgressListener> listener_;
  bool listening_ = false;
  uint64_t periods_ = 0;
};

Registry& M() {
  static auto* m = new RCObject2WithoutDeleting<Registry>();  // lives for the whole process
  return *m;
}

void PeriodHandler::OnRecoveryReport(const RecoveryReport& r) { M().OnDeviceFound(r); }
void ProgressListener::OnStreamNotification(const fw::ProgrammerNotification& n) { M().OnProgrammer(n); }

}  // namespace

void StartRecovery(const RecoverySetup& setup, plat::HostWindow host) { M().Start(setup, host); }
void StopRecovery() { M().Stop(); }
int32_t ResumeRecoveryDevice(uint32_t key) { return M().Resume(key); }
size_t RecoveryDeviceCount() { return M().DeviceCount(); }
size_t RecoveryProgrammerCount() { return M().ProgrammerCount(); }
bool RecoveryListening() { return M().Listening(); }
uint64_t RecoveryPeriodsStarted() { return M().Periods(); }

}  // namespace qs::kvxr
