#include "library/recovery_dispatcher.h"

#include <array>
#include <map>
#include <new>
#include <string>

#include "library/recovery_text.h"
#include "platform/lock.h"
#include "runtime/syncwnd.h"

namespace qs::kvxr {

namespace {

const uint32_t g_message = plat::RegisterNotifyMessage("__VqCallbackCtrlSyncWnd__");

using Mac = std::array<uint8_t, 6>;
using Queue = NotifyQueue<RecoveryEvent>;

struct Entry {
  int32_t number = 0;
  uint32_t key = 0;  // 0 until event 3
};

struct Dispatcher {
  plat::RecursiveLock lock;
  KVxR_RecoveryCallback cb = nullptr;
  int32_t counter = 0;  // process-wide, never reset
  std::map<Mac, Entry> entries;
  Ref<Queue> queue;  // of the current recovery window
};

Dispatcher& D() {
  static Dispatcher* d = new Dispatcher;  // outlives static destructors
  return *d;
}

Mac MacOf(const uint8_t* m) {
  Mac mac;
  for (size_t i = 0; i < 6; ++i) mac[i] = m[i];
  return mac;
}

void DeliverEvent(void*, RecoveryEvent& e) { DispatchRecoveryEvent(e); }

class RecoverySyncWnd : public QueueSyncWnd<RecoveryEvent> {
 public:
  RecoverySyncWnd() : QueueSyncWnd(g_message, &DeliverEvent, nullptr) {}
};

}  // namespace

bool EnsureRecoveryWindow(plat::HostWindow host) {
  {
    plat::ScopedLock l(D().lock);
    if (D().queue && D().queue->link().alive()) return true;
  }
  if (!host) return false;
  auto* w = new (std::nothrow) RecoverySyncWnd;
  if (!w) return false;
  if (!w->Create(host, "KVxR_Recovery_SyncWnd")) {
    delete w;
    return false;
  }
  plat::ScopedLock l(D().lock);
  D().queue = w->queue();
  return true;
}

void InstallRecoveryDispatcher(KVxR_RecoveryCallback cb) {
  plat::ScopedLock l(D().lock);
  D().cb = cb;
  if (!cb) D().entries.clear();
}

bool PostRecoveryEvent(const RecoveryEvent& e) {
  Ref<Queue> q;
  {
    plat::ScopedLock l(D().lock);
    q = D().queue;
  }
  return q && q->Push(e);
}

bool FindRecoveryKey(int32_t number, uint32_t* key) {
  plat::ScopedLock l(D().lock);
  for (const auto& [mac, entry] : D().entries) {
    if (entry.number != number) continue;
    if (entry.key == 0) return false;
    *key = entry.key;
    return true;
  }
  return false;
}

void DispatchRecoveryEvent(const RecoveryEvent& e) {
  KVxR_RecoveryCallback cb = nullptr;
  int32_t number = 0;
  int32_t value = 0;
  std::u16string text;
  {
    plat::ScopedLock l(D().lock);
    cb = D().cb;
    if (!cb) return;
    const Mac mac = MacOf(e.mac);
    auto it = D().entries.find(mac);
    switch (e.event) {
      case KVXR_RECOVERY_FOUND: {
        Entry fresh;
        fresh.number = ++D().counter;
        D().entries[mac] = fresh;
        number = fresh.number;
        const std::string t = FormatRecoveryText(e.address, e.mac);
        text.assign(t.begin(), t.end());
        break;
      }
      case KVXR_RECOVERY_READY:
        if (it == D().entries.end()) return;
        it->second.key = e.key;
        number = it->second.number;
        break;
      case KVXR_RECOVERY_PREPARED:
      case KVXR_RECOVERY_PROGRESS:
        if (it == D().entries.end()) return;
        number = it->second.number;
        value = e.valueA;
        break;
      case KVXR_RECOVERY_PROGRAMMED:
      case KVXR_RECOVERY_UP_TO_DATE:
      case KVXR_RECOVERY_FAILED:
        if (it == D().entries.end()) return;
        number = it->second.number;
        value = e.valueB;
        break;
      default:
        return;
    }
  }
  cb(number, text.empty() ? nullptr : reinterpret_cast<const KVxR_WCHAR*>(text.c_str()), e.event, value);
}

size_t RecoveryEntryCount() {
  plat::ScopedLock l(D().lock);
  return D().entries.size();
}

}  // namespace qs::kvxr
