#include "app/dialog.h"

#include "app/resource.h"

namespace qs::app {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

std::wstring LoadStr(UINT id) {
  const wchar_t* p = nullptr;
  // Length 0 asks for a read-only pointer into the resource itself.
  int n = LoadStringW(Instance(), id, reinterpret_cast<LPWSTR>(&p), 0);
  return (n > 0 && p) ? std::wstring(p, static_cast<size_t>(n)) : std::wstring();
}

std::wstring AppName() { return LoadStr(IDS_APP_NAME); }

DialogBase::~DialogBase() {
  // A modeless or child dialog still alive when its object goes must not call
  // back into freed memory.
  if (hwnd_ && !modal_) {
    SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    DestroyWindow(hwnd_);
  }
}

std::wstring DialogBase::ItemText(int id) const {
  HWND h = Item(id);
  int n = h ? GetWindowTextLengthW(h) : 0;
  if (n <= 0) return std::wstring();
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  int got = GetWindowTextW(h, &s[0], n + 1);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

INT_PTR DialogBase::RunModal(int templateId, HWND owner) {
  modal_ = true;
  return DialogBoxParamW(Instance(), MAKEINTRESOURCEW(templateId), owner, Proc, reinterpret_cast<LPARAM>(this));
}

HWND DialogBase::Create(int templateId, HWND parent) {
  modal_ = false;
  return CreateDialogParamW(Instance(), MAKEINTRESOURCEW(templateId), parent, Proc, reinterpret_cast<LPARAM>(this));
}

void DialogBase::End(INT_PTR result) {
  if (!hwnd_) return;
  if (modal_) EndDialog(hwnd_, result);
  else DestroyWindow(hwnd_);
}

INT_PTR CALLBACK DialogBase::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DialogBase* self;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<DialogBase*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  INT_PTR r = FALSE;
  try {
    r = self->Dispatch(msg, wp, lp);
  } catch (...) {
    r = FALSE;
  }
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return r;
}

INT_PTR DialogBase::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  switch (msg) {
    case WM_INITDIALOG:
      return OnInit() ? TRUE : FALSE;
    case WM_COMMAND:
      return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp)) ? TRUE : FALSE;
    case WM_NOTIFY:
      if (OnNotify(reinterpret_cast<NMHDR*>(lp), result)) {
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
    case WM_TIMER:
      return OnTimer(wp) ? TRUE : FALSE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      if (OnMessage(msg, wp, lp, result)) {
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
  }
}

}  // namespace qs::app
