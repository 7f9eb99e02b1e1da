#include "firmware/boot_msg_watcher.h"

#include <array>
#include <map>
#include <new>

#include "firmware/wp_messages.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "runtime/thread.h"

namespace qs::fw {

namespace {

using Mac = std::array<uint8_t, 6>;

constexpr uint32_t kBindTries = 40;
constexpr uint32_t kBindRetryMs = 50;

Mac MacOf(const uint8_t mac[6]) {
  Mac m;
  for (size_t i = 0; i < 6; ++i) m[i] = mac[i];
  return m;
}

class WPBootMsgWatcher : public IThreadEntry {
 public:
  explicit WPBootMsgWatcher(const net::AdapterRecord& adapter) : adapter_(adapter) {}
  virtual ~WPBootMsgWatcher() = default;

  bool Init() { return stop_.Create(true, false); }
  void Stop() { stop_.Set(); }

  void Register(const Mac& mac, IBootMsgSync* sync) {
    plat::ScopedLock l(lock_);
    registrations_[mac] = sync;
  }
  // true when no registration is left.
  bool Unregister(const Mac& mac, IBootMsgSync* sync) {
    Ref<IBootMsgSync> old;  // released outside the lock
    plat::ScopedLock l(lock_);
    auto it = registrations_.find(mac);
    if (it != registrations_.end() && it->second.get() == sync) {
      old = std::move(it->second);
      registrations_.erase(it);
    }
    return registrations_.empty() && !any_;
  }
  void SetAny(IBootMsgAnySync* any) {
    Ref<IBootMsgAnySync> old;  // released outside the lock
    plat::ScopedLock l(lock_);
    old = std::move(any_);
    any_ = any;
  }
  // true when no registration is left.
  bool ClearAny(IBootMsgAnySync* any) {
    Ref<IBootMsgAnySync> old;  // released outside the lock
    plat::ScopedLock l(lock_);
    if (any_.get() == any) old = std::move(any_);
    return registrations_.empty() && !any_;
  }

  void Run(const plat::Event& poolStop) override {
    try {
      Listen(poolStop);
    } catch (...) {
      // out of memory: the watcher ends; the update jobs' own time-outs cover it
    }
  }

 private:
  void Listen(const plat::Event& poolStop) {
    plat::SocketsLibrary sockets;
    const plat::WaitObject stops[2] = {poolStop.object(), stop_.object()};
    plat::UdpSocket s;
    // The watcher before this one on the adapter may still hold the port for
    // a moment after its stop.
    bool bound = false;
    for (uint32_t i = 0; i < kBindTries && !bound; ++i) {
      bound = s.Open() && s.Bind(adapter_.address, kBootPort) && s.SelectRead();
      if (!bound && plat::WaitAny(stops, 2, kBindRetryMs) != plat::kWaitTimeout) return;
    }
    if (!bound) {
      // Nothing can be heard; the update jobs' own time-outs cover that.
      plat::WaitAny(stops, 2, plat::kInfinite);
      return;
    }
    s.SetBroadcast(true);
    const uint8_t hello = kWatcherHello;
    s.SendTo(&hello, 1, plat::kBroadcastAddress, kBootPort);  // a failing send is ignored
    const plat::WaitObject objs[3] = {poolStop.object(), stop_.object(), s.readable()};
    uint8_t buf[2048];
    for (;;) {
      uint32_t w = plat::WaitAny(objs, 3, plat::kInfinite);
      if (w != 2) return;  // a stop, or a failed wait
      for (;;) {
        plat::SockAddr from;
        int n = s.RecvFrom(buf, sizeof buf, &from);
        if (n == plat::kSockWouldBlock) break;
        if (n < 0) continue;  // a failing receive does not stop the watcher
        uint8_t mac[6];
        if (static_cast<size_t>(n) <= 5 || !ParseBootMessage(buf, static_cast<size_t>(n), mac)) continue;
        Ref<IBootMsgSync> sync;
        Ref<IBootMsgAnySync> any;
        {
          plat::ScopedLock l(lock_);
          auto it = registrations_.find(MacOf(mac));
          if (it != registrations_.end()) sync = it->second;
          else any = any_;
        }
        if (sync) sync->OnBootMessage(from.port);
        else if (any) any->OnBootMessageFrom(mac, from.port);
      }
    }
  }

  net::AdapterRecord adapter_;
  plat::Event stop_;
  plat::RecursiveLock lock_;
  std::map<Mac, Ref<IBootMsgSync>> registrations_;
  Ref<IBootMsgAnySync> any_;
};

using Watcher = RCObject2<WPBootMsgWatcher>;

struct Table {
  plat::RecursiveLock lock;
  std::map<net::AdapterRecord, Ref<Watcher>> watchers;
};

Table& T() {
  static Table* t = new Table;  // outlives static destructors
  return *t;
}

}  // namespace

namespace {

// Under the table's lock: the adapter's watcher, started when there is none.
Watcher* FindOrStart(const net::AdapterRecord& adapter) {
  auto it = T().watchers.find(adapter);
  if (it != T().watchers.end()) return it->second.get();
  auto* w = new (std::nothrow) Watcher(adapter);
  if (!w) return nullptr;
  Ref<Watcher> ref(w);
  if (!w->Init() || !RunOnPool(w)) return nullptr;
  T().watchers.emplace(adapter, ref);
  return w;
}

}  // namespace

bool RegisterBootMessages(const net::AdapterRecord& adapter, const uint8_t mac[6], IBootMsgSync* sync) {
  if (!sync) return false;
  plat::ScopedLock l(T().lock);
  Watcher* w = FindOrStart(adapter);
  if (!w) return false;
  w->Register(MacOf(mac), sync);
  return true;
}

bool RegisterAnyBootMessages(const net::AdapterRecord& adapter, IBootMsgAnySync* any) {
  if (!any) return false;
  plat::ScopedLock l(T().lock);
  Watcher* w = FindOrStart(adapter);
  if (!w) return false;
  w->SetAny(any);
  return true;
}

void UnregisterAnyBootMessages(const net::AdapterRecord& adapter, IBootMsgAnySync* any) {
  Ref<Watcher> stopping;  // released outside the lock
  {
    plat::ScopedLock l(T().lock);
    auto it = T().watchers.find(adapter);
    if (it == T().watchers.end()) return;
    if (it->second->ClearAny(any)) {
      stopping = std::move(it->second);
      T().watchers.erase(it);
    }
  }
  if (stopping) stopping->Stop();
}

void UnregisterBootMessages(const net::AdapterRecord& adapter, const uint8_t mac[6], IBootMsgSync* sync) {
  Ref<Watcher> stopping;  // released outside the lock
  {
    plat::ScopedLock l(T().lock);
    auto it = T().watchers.find(adapter);
    if (it == T().watchers.end()) return;
    if (it->second->Unregister(MacOf(mac), sync)) {
      stopping = std::move(it->second);
      T().watchers.erase(it);
    }
  }
  if (stopping) stopping->Stop();
}

size_t BootMsgWatcherCount() {
  plat::ScopedLock l(T().lock);
  return T().watchers.size();
}

}  // namespace qs::fw
