#include <windows.h>

#include "library/library_host.h"
#include "platform/tick.h"

namespace qs::kvxr {

namespace {
const wchar_t kClass[] = L"QuillscanLibraryHost";

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
  return DefWindowProcW(hwnd, msg, wp, lp);
}
}  // namespace

bool LibraryHost::Open() {
  if (window_) return true;
  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = HostProc;
  wc.hInstance = module;
  wc.lpszClassName = kClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  // Tool window: no taskbar button, one pixel in the corner, never focused.
  HWND w = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClass, L"Quillscan library host", WS_POPUP, 0, 0, 1,
                           1, nullptr, nullptr, module, nullptr);
  if (!w) return false;
  ShowWindow(w, SW_SHOWNOACTIVATE);
  if (!IsWindowVisible(w)) {
    DestroyWindow(w);
    return false;
  }
  window_ = reinterpret_cast<uintptr_t>(w);
  return true;
}

void LibraryHost::Close() {
  if (!window_) return;
  DestroyWindow(reinterpret_cast<HWND>(window_));
  window_ = 0;
}

void LibraryHost::Run(uint32_t ms, const std::atomic<bool>* until) const {
  const uint32_t start = plat::TickCount();
  for (;;) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
      if (until && until->load()) return;
    }
    if (until && until->load()) return;
    uint32_t spent = plat::TicksSince(start);
    if (spent >= ms) return;
    uint32_t left = ms - spent;
    // Short slices: the done callback sets *until on another thread.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, left < 20 ? left : 20, QS_ALLINPUT);
  }
}

}  // namespace qs::kvxr
