#include <windows.h>

#include "platform/tick.h"
#include "tests/library/test_host.h"

namespace qs::test {

namespace {
HWND g_window = nullptr;

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }
}  // namespace

bool OpenHost() {
  if (g_window) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QsLibraryTestHost";
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  g_window = CreateWindowExW(0, wc.lpszClassName, L"library test", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                             nullptr, wc.hInstance, nullptr);
  if (!g_window) return false;
  ShowWindow(g_window, SW_SHOWNOACTIVATE);
  return IsWindowVisible(g_window) != FALSE;
}

void CloseHost() {
  if (g_window) DestroyWindow(g_window);
  g_window = nullptr;
}

bool HostCloseReachesLibrary() { return true; }
plat::HostWindow HostHandle() { return reinterpret_cast<plat::HostWindow>(g_window); }

void Pump(uint32_t ms, const std::atomic<bool>* until) {
  const uint32_t start = plat::TickCount();
  for (;;) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    if (until && until->load()) return;
    uint32_t spent = plat::TicksSince(start);
    if (spent >= ms) return;
    uint32_t left = ms - spent;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, left < 20 ? left : 20, QS_ALLINPUT);
  }
}

}  // namespace qs::test
