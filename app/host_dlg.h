// The invisible host window. Its initialisation runs the main window as a
// modal dialog; when that returns the host destroys itself and the message
// loop ends.
#pragma once
#include <windows.h>

#include <string>

#include "app/dialog.h"

namespace qs::app {

class HostDlg : public DialogBase {
 public:
  explicit HostDlg(const std::wstring& instanceName) : instanceName_(instanceName) {}
  ~HostDlg() override;

  // Creates the host and pumps messages until it is gone; the exit code.
  int Run();

 protected:
  bool OnInit() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  void OnDestroy() override;

 private:
  std::wstring instanceName_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
};

}  // namespace qs::app
