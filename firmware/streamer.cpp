#include "firmware/streamer.h"

#include <map>
#include <new>
#include <vector>

#include "firmware/stream_pacer.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "platform/uuid.h"
#include "runtime/thread.h"

namespace qs::fw {

namespace {

class Streamer;

struct Table {
  plat::RecursiveLock lock;
  std::map<net::AdapterRecord, Streamer*> streamers;  // one reference each
};

Table& T() {
  static Table* t = new Table;  // outlives static destructors
  return *t;
}

class Streamer : public InterfaceImpl<IStreamingProgrammerEx>, public InterfaceImpl<IThreadEntry> {
 public:
  Streamer(const net::AdapterRecord& adapter, uint32_t lifetimeMs, const ProgramBytes& program)
      : adapter_(adapter), lifetime_(lifetimeMs), program_(program) {}
  virtual ~Streamer() = default;

  bool Init() {
    return stop_.Create(true, false) && finished_.Create(true, false) && renewed_.Create(false, false);
  }

  bool AddDevice(const DeviceId& id) override {
    plat::ScopedLock l(lock_);
    devices_.push_back(id);
    changed_ = true;
    return true;
  }
  uint64_t SentCount() override {
    plat::ScopedLock l(lock_);
    return sent_;
  }

  // Holders, counted under the table's lock.
  size_t holders = 0;

  // A later holder's lifetime counts from its registration: a job that joins
  // a streamer started long before still gets its stream.
  void Renew(uint32_t lifetimeMs) {
    {
      plat::ScopedLock l(lock_);
      renewal_ = true;
      renewalTick_ = plat::TickCount();
      renewalMs_ = lifetimeMs;
    }
    renewed_.Set();
  }

  void Stop() { stop_.Set(); }
  bool WaitFinished(uint32_t ms) { return finished_.Wait(ms); }

  void Run(const plat::Event& poolStop) override {
    try {
      Stream(poolStop);
    } catch (...) {
      // out of memory while building datagrams: the stream ends
    }
    finished_.Set();
  }

 private:
  void Rebuild(std::vector<std::vector<uint8_t>>& cycle, StreamPacer& pacer) {
    std::vector<DeviceId> devices;
    {
      plat::ScopedLock l(lock_);
      devices = devices_;
      changed_ = false;
    }
    BuildStreamCycle(program_.data, program_.size, devices, cycle, &plat::NewUuid);
    pacer.SetCycleLength(cycle.size());
  }

  void ApplyRenewal(StreamPacer& pacer) {
    plat::ScopedLock l(lock_);
    if (!renewal_) return;
    renewal_ = false;
    pacer.Renew(renewalTick_, renewalMs_);
  }

  bool Changed() {
    plat::ScopedLock l(lock_);
    return changed_;
  }

  void Stream(const plat::Event& poolStop) {
    plat::SocketsLibrary sockets;
    plat::FineTimerScope fineWaits;  // the 5 ms grid needs waits of single milliseconds
    std::vector<std::vector<uint8_t>> cycle;
    StreamPacer pacer(plat::TickCount(), lifetime_);
    Rebuild(cycle, pacer);
    plat::UdpSocket s;
    if (s.Open()) {
      s.Bind(adapter_.address, 0);
      s.SetBroadcast(true);
      s.SetMulticastInterface(adapter_.address);
    }
    const plat::WaitObject stops[3] = {poolStop.object(), stop_.object(), renewed_.object()};
    for (;;) {
      ApplyRenewal(pacer);
      StreamPacer::Decision d = pacer.Next(plat::TickCount());
      if (d.kind == StreamPacer::Kind::Expired) {
        // The lifetime has passed: the streamer stays listed (and takes
        // devices) until its holders let go, and sends nothing more unless
        // a new holder renews it.
        if (plat::WaitAny(stops, 3, plat::kInfinite) != 2) break;
        continue;
      }
      if (d.kind == StreamPacer::Kind::Wait) {
        if (plat::WaitAny(stops, 2, d.waitMs) != plat::kWaitTimeout) break;
        continue;
      }
      if (Changed()) Rebuild(cycle, pacer);
      if (!cycle.empty()) {
        const std::vector<uint8_t>& dg = cycle[pacer.position()];
        s.SendTo(dg.data(), dg.size(), kStreamGroupAddress, kStreamPort);  // a failing send is ignored
        plat::ScopedLock l(lock_);
        ++sent_;
      }
      pacer.Sent();
    }
  }

  net::AdapterRecord adapter_;
  uint32_t lifetime_;
  ProgramBytes program_;
  plat::Event stop_;
  plat::Event finished_;
  plat::Event renewed_;  // auto-reset
  plat::RecursiveLock lock_;
  std::vector<DeviceId> devices_;
  bool changed_ = false;
  bool renewal_ = false;
  uint32_t renewalTick_ = 0;
  uint32_t renewalMs_ = 0;
  uint64_t sent_ = 0;
};

using StreamerObject = RCObject2Ex<Streamer>;

IStreamingProgrammerEx* Ex(Streamer* s) { return static_cast<IStreamingProgrammerEx*>(s); }

// A holder's reference; the last one to go stops the streamer.
class Holder : public IStreamingProgrammer {
 public:
  Holder(Streamer* s, const net::AdapterRecord& adapter) : streamer_(s), adapter_(adapter) { Ex(s)->AddRef(); }
  virtual ~Holder() {
    bool last = false;
    {
      plat::ScopedLock l(T().lock);
      if (--streamer_->holders == 0) {
        last = true;
        auto it = T().streamers.find(adapter_);
        if (it != T().streamers.end() && it->second == streamer_) {
          T().streamers.erase(it);
          Ex(streamer_)->Release();  // the table's reference; this holder's keeps it alive
        }
      }
    }
    if (last) {
      streamer_->Stop();
      streamer_->WaitFinished(kStreamerStopWaitMs);  // the thread holds its own reference
    }
    Ex(streamer_)->Release();
  }
  Streamer* streamer() const { return streamer_; }

 private:
  Streamer* streamer_;
  net::AdapterRecord adapter_;
};

}  // namespace

bool RegisterForStreaming(const net::AdapterRecord& adapter, const DeviceId* id, uint32_t lifetimeMs,
                          const ProgramBytes& program, Ref<IStreamingProgrammer>* out) {
  out->reset();
  Streamer* s = nullptr;
  Holder* h = nullptr;
  {
    plat::ScopedLock l(T().lock);
    auto it = T().streamers.find(adapter);
    if (it != T().streamers.end()) {
      s = it->second;
      s->Renew(lifetimeMs);
    } else {
      auto* made = new (std::nothrow) StreamerObject(adapter, lifetimeMs, program);
      if (!made) return false;
      Ex(made)->AddRef();
      if (!made->Init() || !RunOnPool(static_cast<IThreadEntry*>(made))) {
        Ex(made)->Release();
        return false;
      }
      T().streamers.emplace(adapter, made);  // takes our reference
      s = made;
    }
    h = new (std::nothrow) RCObject2<Holder>(s, adapter);
    if (!h) {
      if (s->holders == 0) {
        T().streamers.erase(adapter);
        s->Stop();
        Ex(s)->Release();
      }
      return false;
    }
    ++s->holders;
  }
  if (id) Ex(s)->AddDevice(*id);
  *out = h;
  return true;
}

IStreamingProgrammerEx* StreamerOf(IStreamingProgrammer* holder) {
  return holder ? Ex(static_cast<Holder*>(holder)->streamer()) : nullptr;
}

size_t StreamerCount() {
  plat::ScopedLock l(T().lock);
  return T().streamers.size();
}

}  // namespace qs::fw
