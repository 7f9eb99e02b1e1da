// The notification-area icon of the main window.
#pragma once
#include <windows.h>

#include <string>

namespace qs::app {

class TrayIcon {
 public:
  static constexpr UINT kIconId = 100;

  void Init(HWND owner, UINT callbackMessage, const std::wstring& tip, HICON icon) {
    owner_ = owner, message_ = callbackMessage, tip_ = tip, icon_ = icon;
  }
  // Adds the icon the first time, modifies it afterwards. With balloon set the
  // text is shown as a balloon titled with the tooltip.
  bool Update(const std::wstring& text, bool balloon);
  void Remove();
  bool added() const { return added_; }

 private:
  HWND owner_ = nullptr;
  UINT message_ = 0;
  std::wstring tip_;
  HICON icon_ = nullptr;
  HICON shown_ = nullptr;  // the icon last handed to the shell
  bool added_ = false;
};

}  // namespace qs::app
