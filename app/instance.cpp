#include "app/instance.h"

#include "app/win_text.h"

namespace qs::app {

const wchar_t kInstanceName[] = L"Global\\Quillscan.exe{EBE6BD46-7C12-41F2-AF1D-B6418BF52439}";

namespace {
Messages g_messages;
}

std::string ToAnsi(std::wstring_view s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring FromAnsi(std::string_view s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
  return out;
}

void RegisterMessages() {
  g_messages.terminate = RegisterWindowMessageW(L"_VqTerminate_");
  g_messages.tray = RegisterWindowMessageW(L"__TrayMessage__");
  g_messages.removeDevice = RegisterWindowMessageW(L"Quillscan-sWmRemoveDevice");
  g_messages.delayDestroy = RegisterWindowMessageW(L"_VqDelayDestroy_");
}

const Messages& Msg() { return g_messages; }

HWND FindInstanceWindow() {
  for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
    if (GetPropW(w, kInstanceName)) return w;
  return nullptr;
}

namespace {
// True when another process created the mutex first. The handle is kept open
// on purpose: the mutex marks this process for as long as it lives.
bool MutexExisted() {
  HANDLE m = CreateMutexW(nullptr, FALSE, kInstanceName);
  return m && GetLastError() == ERROR_ALREADY_EXISTS;
}
}  // namespace

int AskRunningToQuit() {
  if (!MutexExisted()) return -2;
  for (int attempt = 0; attempt < 10; ++attempt) {
    HWND w = FindInstanceWindow();
    if (!w) return 0;
    PostMessageW(w, Msg().terminate, 0, 0);
    Sleep(500);
  }
  return -2;
}

int BringRunningToFront() {
  if (!MutexExisted()) return 0;
  HWND w = FindInstanceWindow();
  // Still starting (no window yet): start as well.
  if (!w) return 0;
  if (IsIconic(w)) ShowWindow(w, SW_RESTORE);
  SetForegroundWindow(w);
  SetForegroundWindow(GetLastActivePopup(w));
  ShowWindow(w, SW_SHOW);
  return -3;
}

void WriteAnswerFile(const std::string& ansiPath, const std::wstring& text) {
  HANDLE f = CreateFileA(ansiPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  std::string bytes = ToAnsi(text);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
}

}  // namespace qs::app
