// A small dialog base: the procedure stores `this` at WM_INITDIALOG and routes
// to the virtual handlers. No exception leaves a handler: the procedure
// catches everything, because unwinding through the system's frames is undefined.
#pragma once
#include <windows.h>

#include <string>

namespace qs::app {

class DialogBase {
 public:
  DialogBase() = default;
  virtual ~DialogBase();
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;

  HWND hwnd() const { return hwnd_; }
  // Modal run: returns what End was given, or -1 when the dialog could not be made.
  INT_PTR RunModal(int templateId, HWND owner);
  // Modeless or child dialog; null on failure.
  HWND Create(int templateId, HWND parent);

  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  void SetItemText(int id, const std::wstring& text) const { SetDlgItemTextW(hwnd_, id, text.c_str()); }
  std::wstring ItemText(int id) const;
  void EnableItem(int id, bool on) const { EnableWindow(Item(id), on ? TRUE : FALSE); }

 protected:
  // WM_INITDIALOG; return true to let the system set the focus.
  virtual bool OnInit() { return true; }
  virtual bool OnCommand(int id, int code, HWND control) {
    (void)id, (void)code, (void)control;
    return false;
  }
  virtual bool OnNotify(NMHDR* header, LRESULT& result) {
    (void)header, (void)result;
    return false;
  }
  virtual bool OnTimer(UINT_PTR id) {
    (void)id;
    return false;
  }
  // Everything else, registered messages included.
  virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    (void)msg, (void)wp, (void)lp, (void)result;
    return false;
  }
  virtual void OnDestroy() {}

  void End(INT_PTR result);
  bool modal() const { return modal_; }

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);

  HWND hwnd_ = nullptr;
  bool modal_ = false;
};

// The module's instance handle.
HINSTANCE Instance();
std::wstring LoadStr(UINT id);
// The program's name (string 128), the caption of every message box.
std::wstring AppName();

}  // namespace qs::app
