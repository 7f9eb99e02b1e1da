#include "library/recovery_listener.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <vector>

#include "library/recovery_wire.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "platform/uuid.h"
#include "runtime/bytes.h"
#include "runtime/thread.h"

namespace qs::kvxr {

namespace {

using Id = std::array<uint8_t, 16>;

Id IdOf(const uint8_t* p) {
  Id id;
  std::memcpy(id.data(), p, 16);
  return id;
}

struct Scanner {
  class Module;
};

struct Table {
  plat::RecursiveLock lock;
  std::map<net::AdapterRecord, Scanner::Module*> listeners;  // one reference each
};

Table& T() {
  static Table* t = new Table;  // outlives static destructors
  return *t;
}

struct Watch {
  uint32_t key = 0;
  Id id{};
  uint32_t start = 0;
  uint32_t lifetime = 0;
  bool fired = false;
  Ref<IRecoveryHandler> handler;
};

// The listener of one adapter. Counted by its holds (under the table's
// lock) and by the references of the table and its thread.
class Scanner::Module : public IThreadEntry {
 public:
  Module(const net::AdapterRecord& adapter, ILogSink* log) : adapter_(adapter), log_(log, "recovery-scan") {}
  virtual ~Module() = default;

  bool Init() { return stop_.Create(true, false) && changed_.Create(false, false); }
  void Stop() { stop_.Set(); }

  size_t holds = 0;  // under the table's lock

  bool AddHandler(IRecoveryHandler* h) {
    plat::ScopedLock l(lock_);
    handlers_.push_back(HandlerEntry{h, {}});
    return true;
  }
  void RemoveHandler(IRecoveryHandler* h) {
    Ref<IRecoveryHandler> old(h);  // released outside the lock
    plat::ScopedLock l(lock_);
    handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(),
                                   [h](const HandlerEntry& e) { return e.handler.get() == h; }),
                    handlers_.end());
  }
  uint32_t AddWatch(const uint8_t id[16], uint32_t lifetimeMs, IRecoveryHandler* h) {
    plat::ScopedLock l(lock_);
    Watch w;
    w.key = ++nextKey_;
    w.id = IdOf(id);
    w.start = plat::TickCount();
    w.lifetime = lifetimeMs;
    w.handler = h;
    watches_.push_back(std::move(w));
    changed_.Set();  // the next request lists it at once
    return nextKey_;
  }
  void RemoveWatch(uint32_t key) {
    Ref<IRecoveryHandler> old;  // released outside the lock
    plat::ScopedLock l(lock_);
    for (auto it = watches_.begin(); it != watches_.end(); ++it) {
      if (it->key != key) continue;
      old = std::move(it->handler);
      watches_.erase(it);
      changed_.Set();
      return;
    }
  }
  uint64_t RequestsSent() {
    plat::ScopedLock l(lock_);
    return sent_;
  }

  void Run(const plat::Event& poolStop) override {
    try {
      Listen(poolStop);
    } catch (...) {
      // out of memory: the listener ends; the watchers' own time-outs cover it
    }
  }

 private:
  std::vector<WatchEntry> Entries() {
    plat::ScopedLock l(lock_);
    std::vector<WatchEntry> out;
    for (const Watch& w : watches_) {
      if (w.fired || plat::TicksSince(w.start) >= w.lifetime) continue;
      WatchEntry e;
      e.key = w.key;
      e.id = w.id;
      out.push_back(e);
    }
    return out;
  }

  void SendRequests(plat::UdpSocket& s) {
    uint8_t requestId[16] = {};
    plat::NewUuid(requestId);
    for (const auto& d : BuildRecoveryRequests(requestId, Entries())) {
      int n = s.SendTo(d.data(), d.size(), plat::kBroadcastAddress, kRecoveryPort);
      plat::ScopedLock l(lock_);
      if (n == static_cast<int>(d.size())) ++sent_;
    }
  }

  void OnAnnouncement(const Announcement& a, uint32_t sender) {
    RecoveryReport r;
    std::memcpy(r.id, a.id, 16);
    r.address = sender;
    std::memcpy(r.mac, a.mac, 6);
    r.port = a.port;
    r.adapter = adapter_;
    const Id id = IdOf(a.id);
    std::vector<Ref<IRecoveryHandler>> call;
    {
      plat::ScopedLock l(lock_);
      for (Watch& w : watches_) {
        if (w.fired || w.id != id || plat::TicksSince(w.start) >= w.lifetime) continue;
        w.fired = true;
        call.push_back(w.handler);
      }
      // Each handler hears an identifier once, however long the listener has
      // known it: a handler added later (a new listening period) hears a
      // unit that is back in its boot loader.
      for (HandlerEntry& e : handlers_)
        if (e.known.insert(id).second) call.push_back(e.handler);
    }
    if (!call.empty())
      log_(LogKind::Received, "boot loader %s at %s, port %u", bytes::HexText(a.id, 16).c_str(),
           bytes::FormatIpv4(sender).c_str(), a.port);
    for (const auto& h : call) h->OnRecoveryReport(r);
  }

  void Listen(const plat::Event& poolStop) {
    plat::SocketsLibrary sockets;
    plat::UdpSocket s;
    const plat::WaitObject stops[2] = {poolStop.object(), stop_.object()};
    if (!s.Open() || !s.Bind(adapter_.address, 0) || !s.SetBroadcast(true) || !s.SelectRead()) {
      log_(LogKind::Outcome, "no socket on %s", bytes::FormatIpv4(adapter_.address).c_str());
      plat::WaitAny(stops, 2, plat::kInfinite);  // the users' own time-outs cover it
      return;
    }
    const plat::WaitObject objs[4] = {poolStop.object(), stop_.object(), changed_.object(), s.readable()};
    uint8_t buf[2048];
    uint32_t lastSend = plat::TickCount();
    SendRequests(s);
    for (;;) {
      uint32_t spent = plat::TicksSince(lastSend);
      if (spent >= kRecoveryResendMs) {
        lastSend = plat::TickCount();
        SendRequests(s);
        spent = 0;
      }
      uint32_t w = plat::WaitAny(objs, 4, kRecoveryResendMs - spent);
      if (w == 0 || w == 1 || w == plat::kWaitFailed) return;
      if (w == 2) {
        lastSend = plat::TickCount();
        SendRequests(s);
        continue;
      }
      if (w != 3) continue;
      for (;;) {
        plat::SockAddr from;
        int n = s.RecvFrom(buf, sizeof buf, &from);
        if (n == plat::kSockWouldBlock) break;
        if (n == plat::kSockError) {
          // A socket that keeps failing ends this listener only.
          if (++errors_ > kMaxErrors) return;
          break;
        }
        Announcement a;
        if (n > 0 && ParseAnnouncement(buf, static_cast<size_t>(n), a)) OnAnnouncement(a, from.address);
      }
    }
  }

  static constexpr uint32_t kMaxErrors = 1000;

  net::AdapterRecord adapter_;
  JobLog log_;
  plat::Event stop_;
  plat::Event changed_;
  plat::RecursiveLock lock_;
  struct HandlerEntry {
    Ref<IRecoveryHandler> handler;
    std::set<Id> known;  // identifiers this handler has heard
  };
  std::vector<HandlerEntry> handlers_;
  std::vector<Watch> watches_;
  uint32_t nextKey_ = 0;
  uint64_t sent_ = 0;
  uint32_t errors_ = 0;
};

using ModuleObject = RCObject2<Scanner::Module>;

// One user's hold; the last one stops the listener.
class Hold : public IScanner {
 public:
  Hold(Scanner::Module* m, const net::AdapterRecord& adapter) : module_(m), adapter_(adapter) { m->AddRef(); }
  virtual ~Hold() {
    bool last = false;
    {
      plat::ScopedLock l(T().lock);
      if (--module_->holds == 0) {
        last = true;
        auto it = T().listeners.find(adapter_);
        if (it != T().listeners.end() && it->second == module_) {
          T().listeners.erase(it);
          module_->Release();  // the table's reference; this hold's keeps it alive
        }
      }
    }
    if (last) module_->Stop();  // its thread holds its own reference
    module_->Release();
  }
  bool AddHandler(IRecoveryHandler* h) override { return h && module_->AddHandler(h); }
  void RemoveHandler(IRecoveryHandler* h) override { module_->RemoveHandler(h); }
  uint64_t RequestsSent() override { return module_->RequestsSent(); }
  Scanner::Module* module() const { return module_; }

 private:
  Scanner::Module* module_;
  net::AdapterRecord adapter_;
};

class WatchHold : public IRecoveryWatch {
 public:
  WatchHold(Ref<IScanner> hold, uint32_t key) : hold_(std::move(hold)), key_(key) {}
  virtual ~WatchHold() { static_cast<Hold*>(hold_.get())->module()->RemoveWatch(key_); }

 private:
  Ref<IScanner> hold_;
  uint32_t key_;
};

}  // namespace

bool GetRecoveryListener(const net::AdapterRecord& adapter, ILogSink* log, Ref<IScanner>* out) {
  out->reset();
  plat::ScopedLock l(T().lock);
  Scanner::Module* m = nullptr;
  auto it = T().listeners.find(adapter);
  if (it != T().listeners.end()) {
    m = it->second;
  } else {
    auto* made = new (std::nothrow) ModuleObject(adapter, log);
    if (!made) return false;
    made->AddRef();
    if (!made->Init() || !RunOnPool(made)) {
      made->Release();
      return false;
    }
    T().listeners.emplace(adapter, made);  // takes our reference
    m = made;
  }
  auto* h = new (std::nothrow) RCObject2<Hold>(m, adapter);
  if (!h) {
    if (m->holds == 0) {
      T().listeners.erase(adapter);
      m->Stop();
      m->Release();
    }
    return false;
  }
  ++m->holds;
  *out = h;
  return true;
}

bool WatchForDevice(const net::AdapterRecord& adapter, const uint8_t id[16], uint32_t lastAddress,
                    uint32_t lifetimeMs, IRecoveryHandler* handler, ILogSink* log, Ref<IRecoveryWatch>* out) {
  out->reset();
  if (!handler) return false;
  Ref<IScanner> hold;
  if (!GetRecoveryListener(adapter, log, &hold)) return false;
  JobLog(log, "recovery-scan")(LogKind::Note, "watching for %s (last at %s)", bytes::HexText(id, 16).c_str(),
                               bytes::FormatIpv4(lastAddress).c_str());
  uint32_t key = static_cast<Hold*>(hold.get())->module()->AddWatch(id, lifetimeMs, handler);
  auto* w = new (std::nothrow) RCObject2<WatchHold>(hold, key);
  if (!w) {
    static_cast<Hold*>(hold.get())->module()->RemoveWatch(key);
    return false;
  }
  *out = w;
  return true;
}

size_t RecoveryListenerCount() {
  plat::ScopedLock l(T().lock);
  return T().listeners.size();
}

}  // namespace qs::kvxr
