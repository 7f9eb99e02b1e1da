#include <windows.h>

#include "cli/support_host.h"
#include "platform/tick.h"

namespace qs::cli {

namespace {
const wchar_t kClass[] = L"QuillscanCliHost";

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
  HWND w = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClass, L"quillscan-cli",
                           WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, module, nullptr);
  if (!w) return false;
  ShowWindow(w, SW_SHOWNOACTIVATE);
  window_ = w;
  return true;
}

void LibraryHost::Close() {
  if (!window_) return;
  DestroyWindow(static_cast<HWND>(window_));
  window_ = nullptr;
}

void LibraryHost::Run(uint32_t ms, const std::atomic<bool>* until) {
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
    MsgWaitForMultipleObjects(0, nullptr, FALSE, left < 50 ? left : 50, QS_ALLINPUT);
  }
}

}  // namespace qs::cli
