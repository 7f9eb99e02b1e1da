#include "runtime/syncwnd.h"

#include <algorithm>
#include <vector>

namespace qs {

namespace {

struct StalledRegistry {
  plat::RecursiveLock lock;
  std::vector<StalledWindow*> windows;
};

StalledRegistry& Registry() {
  static StalledRegistry* r = new StalledRegistry;  // windows may die in static destructors
  return *r;
}

bool Registered(StalledWindow* w) {
  StalledRegistry& r = Registry();
  plat::ScopedLock l(r.lock);
  return std::find(r.windows.begin(), r.windows.end(), w) != r.windows.end();
}

}  // namespace

bool SyncWnd::Create(plat::HostWindow host, const char* className) {
  window_ = plat::CreateNotifyWindow(host, className, this);
  return window_ != 0;
}

void SyncWnd::Destroy() {
  if (window_) plat::DestroyNotifyWindow(window_);
}

void SyncWnd::OnNotifyDestroyed(plat::NotifyWindow) {
  OnDestroy();
  window_ = 0;
  OnFinalMessage();
}

void StalledWindow::Register() {
  StalledRegistry& r = Registry();
  plat::ScopedLock l(r.lock);
  r.windows.push_back(this);
}

void StalledWindow::Unregister() {
  StalledRegistry& r = Registry();
  plat::ScopedLock l(r.lock);
  r.windows.erase(std::remove(r.windows.begin(), r.windows.end(), this), r.windows.end());
}

size_t RunStalledNotifications() {
  std::vector<StalledWindow*> snapshot;
  {
    StalledRegistry& r = Registry();
    plat::ScopedLock l(r.lock);
    snapshot = r.windows;
  }
  size_t ran = 0;
  for (StalledWindow* w : snapshot) {
    // An earlier delivery may have closed this window (windows die only on
    // this thread, so a registered one is alive).
    if (!Registered(w)) continue;
    if (w->RunStalled()) ++ran;
  }
  return ran;
}

size_t QueueWindowCount() {
  StalledRegistry& r = Registry();
  plat::ScopedLock l(r.lock);
  return r.windows.size();
}

}  // namespace qs
