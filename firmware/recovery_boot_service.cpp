#include "firmware/recovery_boot_service.h"

#include <array>
#include <map>
#include <new>
#include <vector>

#include "firmware/boot_msg_watcher.h"
#include "firmware/older_bootloader_support.h"
#include "platform/lock.h"
#include "runtime/bytes.h"

namespace qs::fw {

namespace {

using Mac = std::array<uint8_t, 6>;

class RecoveryBootService;

// The service's ear on one adapter's watcher.
class AdapterHook : public IBootMsgAnySync {
 public:
  AdapterHook(RecoveryBootService* service, const net::AdapterRecord& adapter) : service_(service), adapter_(adapter) {}
  virtual ~AdapterHook() = default;
  void OnBootMessageFrom(const uint8_t mac[6], uint16_t port) override;
  // The service lets go; a boot message still under way is then dropped.
  void Cut() {
    plat::ScopedLock l(lock_);
    service_ = nullptr;
  }
  const net::AdapterRecord& adapter() const { return adapter_; }

 private:
  plat::RecursiveLock lock_;
  RecoveryBootService* service_;  // under lock_; the service outlives its hooks' use of it
  net::AdapterRecord adapter_;
};

class RecoveryBootService : public IRecoveryBootService {
 public:
  RecoveryBootService(const ProgramBytes& program, ILogSink* log) : program_(program), sink_(log), log_(log, "recovery-loader") {}
  virtual ~RecoveryBootService() = default;

  bool Attach(const net::AdapterRecord& adapter) override {
    auto* hook = new (std::nothrow) RCObject2<AdapterHook>(this, adapter);
    if (!hook) return false;
    Ref<AdapterHook> ref(hook);
    {
      plat::ScopedLock l(lock_);
      if (cancelled_) return false;
      hooks_.push_back(ref);
    }
    if (RegisterAnyBootMessages(adapter, hook)) return true;
    DetachHook(hook);
    return false;
  }

  void DetachAll() override {
    std::vector<Ref<AdapterHook>> hooks;
    {
      plat::ScopedLock l(lock_);
      hooks.swap(hooks_);
    }
    for (auto& h : hooks) {
      h->Cut();
      UnregisterAnyBootMessages(h->adapter(), h.get());
    }
  }

  void Cancel() override {
    {
      plat::ScopedLock l(lock_);
      cancelled_ = true;
    }
    DetachAll();
    std::map<Mac, Ref<IOlderBootloaderSupport>> sessions;  // their last release cancels them
    plat::ScopedLock l(lock_);
    sessions.swap(sessions_);
  }

  size_t SessionsStarted() override {
    plat::ScopedLock l(lock_);
    return started_;
  }
  size_t SessionsRunning() override {
    plat::ScopedLock l(lock_);
    size_t n = 0;
    for (const auto& s : sessions_)
      if (s.second->Outcome() == 0) ++n;
    return n;
  }

  // On a watcher's thread: starts a session unless one runs for the MAC.
  void OnBootMessage(const net::AdapterRecord& adapter, const uint8_t mac[6], uint16_t port) {
    const Mac key{mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]};
    Ref<IOlderBootloaderSupport> old;  // released outside the lock
    plat::ScopedLock l(lock_);
    if (cancelled_) return;
    auto it = sessions_.find(key);
    if (it != sessions_.end() && it->second->Outcome() == 0) return;  // under way
    Ref<IOlderBootloaderSupport> session;
    if (!ServeOlderBootloader(adapter, mac, port, program_, sink_.get(), &session)) {
      log_(LogKind::Outcome, "boot message of %s: no session could be started", bytes::FormatMac(mac).c_str());
      return;
    }
    log_(LogKind::Note, "boot message of %s from port %u: serving it", bytes::FormatMac(mac).c_str(), port);
    ++started_;
    if (it != sessions_.end()) {
      old = std::move(it->second);
      it->second = std::move(session);
    } else {
      sessions_.emplace(key, std::move(session));
    }
  }

 private:
  void DetachHook(AdapterHook* hook) {
    Ref<AdapterHook> gone;
    {
      plat::ScopedLock l(lock_);
      for (auto it = hooks_.begin(); it != hooks_.end(); ++it) {
        if (it->get() != hook) continue;
        gone = std::move(*it);
        hooks_.erase(it);
        break;
      }
    }
    if (gone) gone->Cut();
  }

  ProgramBytes program_;
  Ref<ILogSink> sink_;
  JobLog log_;
  plat::RecursiveLock lock_;
  bool cancelled_ = false;
  std::vector<Ref<AdapterHook>> hooks_;
  std::map<Mac, Ref<IOlderBootloaderSupport>> sessions_;
  size_t started_ = 0;
};

void AdapterHook::OnBootMessageFrom(const uint8_t mac[6], uint16_t port) {
  Ref<IRecoveryBootService> hold;
  RecoveryBootService* s = nullptr;
  {
    plat::ScopedLock l(lock_);
    s = service_;
    if (s) hold = s;
  }
  if (s) s->OnBootMessage(adapter_, mac, port);
}

}  // namespace

bool CreateRecoveryBootService(const ProgramBytes& program, ILogSink* log, Ref<IRecoveryBootService>* out) {
  out->reset();
  auto* s = new (std::nothrow) RCObject2<RecoveryBootService>(program, log);
  if (!s) return false;
  *out = s;
  return true;
}

}  // namespace qs::fw
