#include <windows.h>

#include <string>

#include "platform/notify.h"

namespace qs::plat {

namespace {

std::wstring Widen(const char* s) {
  std::wstring w;
  for (; *s; ++s) w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*s)));
  return w;
}

// The module this code is linked into (the library's DLL, or a program).
HINSTANCE ThisModule() {
  HMODULE h = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &h);
  return h;
}

LRESULT CALLBACK NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  auto* h = reinterpret_cast<INotifyHandler*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!h) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_DESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    h->OnNotifyDestroyed(reinterpret_cast<NotifyWindow>(hwnd));
    return 0;
  }
  if (h->OnNotify(reinterpret_cast<NotifyWindow>(hwnd), msg, wp, lp)) return 0;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

bool EnsureClass(const std::wstring& name, HINSTANCE module) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(module, name.c_str(), &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = NotifyProc;
  wc.hInstance = module;
  wc.lpszClassName = name.c_str();
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

BOOL CALLBACK FindVisible(HWND hwnd, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (lstrcmpW(cls, L"HH Parent") == 0) return TRUE;
  *reinterpret_cast<HWND*>(lp) = hwnd;
  return FALSE;
}

}  // namespace

uint32_t RegisterNotifyMessage(const char* name) {
  if (!name || !*name) return 0;
  return RegisterWindowMessageW(Widen(name).c_str());
}

HostWindow FindHostWindow() {
  HWND found = nullptr;
  EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&found));
  return reinterpret_cast<HostWindow>(found);
}

NotifyWindow CreateNotifyWindow(HostWindow host, const char* className, INotifyHandler* handler) {
  if (!host || !handler || !className) return 0;
  HINSTANCE module = ThisModule();
  std::wstring cls = Widen(className);
  if (!EnsureClass(cls, module)) return 0;
  HWND w = CreateWindowExW(0, cls.c_str(), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0,
                           0, reinterpret_cast<HWND>(host), nullptr, module, handler);
  return reinterpret_cast<NotifyWindow>(w);
}

bool IsNotifyWindow(NotifyWindow w) { return w && IsWindow(reinterpret_cast<HWND>(w)); }

bool PostNotify(NotifyWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return w && PostMessageW(reinterpret_cast<HWND>(w), message, wParam, lParam);
}

bool DestroyNotifyWindow(NotifyWindow w) { return w && DestroyWindow(reinterpret_cast<HWND>(w)); }

int32_t DispatchNotifications(uint32_t timeoutMs) {
  MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  int32_t ran = 0;
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
    ++ran;
  }
  return ran;
}

void DestroyHost(HostWindow host) {
  if (host) DestroyWindow(reinterpret_cast<HWND>(host));
}

}  // namespace qs::plat
