#include "app/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace qs::app {

namespace {
// The full record of the shell version the program is written for (its
// layout is checked in app/abi_check.cpp).
constexpr DWORD kRecordSize = NOTIFYICONDATAW_V3_SIZE;

void CopyCut(wchar_t* dst, size_t room, const std::wstring& src) {
  size_t n = src.size() < room - 1 ? src.size() : room - 1;
  wmemcpy(dst, src.data(), n);
  dst[n] = L'\0';
}
}  // namespace

bool TrayIcon::Update(const std::wstring& text, bool balloon) {
  NOTIFYICONDATAW d;
  ZeroMemory(&d, sizeof d);
  d.cbSize = kRecordSize;
  d.hWnd = owner_;
  d.uID = kIconId;
  HICON remember = shown_;
  if (icon_ && icon_ != shown_) {
    d.hIcon = icon_;
    d.uFlags |= NIF_ICON;
    remember = icon_;
  }
  if (balloon) {
    d.uFlags |= NIF_INFO;
    CopyCut(d.szInfo, 256, text);
    CopyCut(d.szInfoTitle, 64, tip_);
    d.uTimeout = 3;
    d.dwInfoFlags = NIIF_INFO;
  } else {
    d.uFlags |= NIF_TIP;
    CopyCut(d.szTip, 128, tip_);
  }
  d.uFlags |= NIF_MESSAGE;
  d.uCallbackMessage = message_;
  if (!Shell_NotifyIconW(added_ ? NIM_MODIFY : NIM_ADD, &d)) return false;
  shown_ = remember;
  added_ = true;
  return true;
}

void TrayIcon::Remove() {
  NOTIFYICONDATAW d;
  ZeroMemory(&d, sizeof d);
  d.cbSize = kRecordSize;
  d.hWnd = owner_;
  d.uID = kIconId;
  Shell_NotifyIconW(NIM_DELETE, &d);
  added_ = false;
  shown_ = nullptr;
  icon_ = nullptr;
}

}  // namespace qs::app
