#include "library/scan_result.h"

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "library/fence.h"
#include "runtime/syncwnd.h"

namespace qs::kvxr {

namespace {

const uint32_t g_scanResultMessage = plat::RegisterNotifyMessage("__KVxR_ScanResultNotify__");

// Shared by every result of the process, never reset: handles stay unique.
std::atomic<int32_t> g_handleCounter{0};

// What the window is told, in order: a device handle, or the end of the scan.
constexpr int32_t kScanFinished = 0;

using Notices = NotifyQueue<int32_t>;

class ScanResult : public IScanResult {
 public:
  class SyncWnd;

  explicit ScanResult(KVxR_DeviceCallback onDevice) : onDevice_(onDevice) {}
  virtual ~ScanResult() = default;

  bool AttachWindow(plat::HostWindow host);

  void Report(bool finished, const DeviceRecord& record) override {
    Ref<Notices> q = Queue();
    plat::ScopedLock l(lock_);
    if (finished) {
      if (q) q->Push(kScanFinished);
      return;
    }
    // Queued under the table lock, so the window receives the devices in
    // handle order; queueing never blocks.
    int32_t handle = g_handleCounter.fetch_add(1) + 1;
    table_.emplace(handle, record);
    if (q) q->Push(handle);
    else ++undelivered_;
  }

  bool Flush(uint32_t budgetMs) override {
    Ref<Notices> q = Queue();
    return !q || q->Flush(budgetMs);
  }

  uint64_t Undelivered() override {
    Ref<Notices> q = Queue();
    plat::ScopedLock l(lock_);
    return undelivered_ + (q ? q->dropped() : 0);
  }

  void Deliver(int32_t handle) override {
    DeviceRecord r;
    if (!Find(handle, &r)) return;
    std::u16string line = FormatDeviceLine(r);
    if (line.empty() || !onDevice_) return;
    onDevice_(handle, reinterpret_cast<const KVxR_WCHAR*>(line.c_str()));
  }

  void OnFinished() override { DropSelf(); }
  void OnWindowDestroyed() override { DropSelf(); }

  bool Find(int32_t handle, DeviceRecord* out) override {
    plat::ScopedLock l(lock_);
    auto it = table_.find(handle);
    if (it == table_.end()) return false;
    if (out) *out = it->second;
    return true;
  }

  void Enumerate(KVxR_DeviceCallback fn) override {
    if (!fn) return;
    plat::ScopedLock l(lock_);
    for (const auto& e : table_) {
      std::u16string line = FormatDeviceLine(e.second);
      if (!line.empty()) fn(e.first, reinterpret_cast<const KVxR_WCHAR*>(line.c_str()));
    }
  }

  // The window is gone: later reports stay in the table, counted.
  void Detach() {
    Ref<Notices> q;
    plat::ScopedLock l(lock_);
    q = std::move(queue_);
    if (q) undelivered_ += q->dropped();
  }

 private:
  Ref<Notices> Queue() {
    plat::ScopedLock l(lock_);
    return queue_;
  }

  void DropSelf() {
    Ref<IScanResult> self;
    {
      plat::ScopedLock l(lock_);
      self = std::move(self_);
    }
    // Released outside the lock: it may be the last reference.
  }

  KVxR_DeviceCallback onDevice_;
  std::map<int32_t, DeviceRecord> table_;
  plat::RecursiveLock lock_;
  Ref<IScanResult> self_;
  Ref<Notices> queue_;
  uint64_t undelivered_ = 0;
};

class ScanResult::SyncWnd : public QueueSyncWnd<int32_t> {
 public:
  explicit SyncWnd(ScanResult* result) : QueueSyncWnd(g_scanResultMessage, nullptr, nullptr), result_(result) {}

 protected:
  void Deliver(std::vector<int32_t>& notices) override {
    Ref<IScanResult> keep = result_;  // the callback may run anything
    bool finished = false;
    for (int32_t n : notices) {
      if (n == kScanFinished) {
        finished = true;  // what came after the end is kept, not delivered
        break;
      }
      if (keep) keep->Deliver(n);
    }
    if (finished && keep) {
      keep->OnFinished();
      Destroy();  // this object goes with the window
    }
  }
  void OnDestroy() override {
    QueueSyncWnd::OnDestroy();
    Ref<IScanResult> r = std::move(result_);
    if (!r) return;
    static_cast<ScanResult*>(r.get())->Detach();
    r->OnWindowDestroyed();
  }

 private:
  Ref<IScanResult> result_;
};

bool ScanResult::AttachWindow(plat::HostWindow host) {
  auto* w = new (std::nothrow) SyncWnd(this);
  if (!w) return false;
  // The self-reference and the queue are in place before the window can
  // receive anything.
  {
    plat::ScopedLock l(lock_);
    self_ = this;
    queue_ = w->queue();
  }
  if (!w->Create(host, "KVxR_ScanResult_SyncWnd")) {
    delete w;
    plat::ScopedLock l(lock_);
    queue_.reset();
    self_.reset();  // not the last reference: the creator holds one
    return false;
  }
  return true;
}

}  // namespace

IScanResult* CreateScanResult(KVxR_DeviceCallback onDevice, plat::HostWindow host) {
  auto* r = new (std::nothrow) RCObject2<ScanResult>(onDevice);
  if (!r) return nullptr;
  r->AddRef();
  if (!r->AttachWindow(host)) {
    r->Release();
    return nullptr;
  }
  return r;
}

uint32_t ScanResultMessage() { return g_scanResultMessage; }

int32_t LastDeviceHandle() { return g_handleCounter.load(); }

}  // namespace qs::kvxr
