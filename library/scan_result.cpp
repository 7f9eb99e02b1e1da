#include "library/scan_result.h"

#include <atomic>
#include <new>
#include <string>

#include "runtime/syncwnd.h"

namespace qs::kvxr {

namespace {

const uint32_t g_scanResultMessage = plat::RegisterNotifyMessage("__KVxR_ScanResultNotify__");

// Shared by every result of the process, never reset: handles stay unique.
std::atomic<int32_t> g_handleCounter{0};

class ScanResult : public IScanResult {
 public:
  class SyncWnd;

  explicit ScanResult(KVxR_DeviceCallback onDevice) : onDevice_(onDevice) {}
  virtual ~ScanResult() = default;

  bool AttachWindow(plat::HostWindow host);

  void Report(bool finished, const DeviceRecord& record) override {
    if (finished) {
      plat::ScopedLock l(lock_);
      if (window_) plat::PostNotify(window_, g_scanResultMessage, 1, 0);
      return;
    }
    // Posted under the lock, so the window receives the devices in handle
    // order; posting never blocks.
    plat::ScopedLock l(lock_);
    int32_t handle = g_handleCounter.fetch_add(1) + 1;
    table_.emplace(handle, record);
    if (window_) plat::PostNotify(window_, g_scanResultMessage, 0, handle);
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

  void Detach() {
    plat::ScopedLock l(lock_);
    window_ = 0;
  }

 private:
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
  plat::NotifyWindow window_ = 0;
};

class ScanResult::SyncWnd : public qs::SyncWnd {
 public:
  explicit SyncWnd(ScanResult* result) : result_(result) {}

 protected:
  bool OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    if (message != g_scanResultMessage) return false;
    Ref<IScanResult> keep = result_;  // the callback may run anything
    if (wParam != 0) {
      result_->OnFinished();
      Destroy();  // this object goes with the window
      return true;
    }
    keep->Deliver(static_cast<int32_t>(lParam));
    return true;
  }
  void OnDestroy() override {
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
  // The self-reference and the window are in place before the window can
  // receive anything.
  {
    plat::ScopedLock l(lock_);
    self_ = this;
  }
  if (!w->Create(host, "KVxR_ScanResult_SyncWnd")) {
    delete w;
    plat::ScopedLock l(lock_);
    self_.reset();  // not the last reference: the creator holds one
    return false;
  }
  plat::ScopedLock l(lock_);
  window_ = w->window();
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
