#include "runtime/syncwnd.h"

namespace qs {

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

}  // namespace qs
