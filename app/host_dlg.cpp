#include "app/host_dlg.h"

#include "app/discovery_dlg.h"
#include "app/instance.h"
#include "app/resource.h"
#include "app/window_util.h"

namespace qs::app {

HostDlg::~HostDlg() {
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

int HostDlg::Run() {
  if (!Create(IDD_HOST, nullptr)) return 0;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (hwnd() && IsDialogMessageW(hwnd(), &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}

bool HostDlg::OnInit() {
  SetProgramIcons(hwnd(), bigIcon_, smallIcon_);
  {
    // The whole interactive life of the program.
    DiscoveryDlg main(instanceName_);
    main.RunModal(IDD_DISCOVERY, hwnd());
  }
  PostMessageW(hwnd(), Msg().delayDestroy, 0, 0);
  return false;
}

bool HostDlg::OnCommand(int id, int, HWND) {
  if (id == IDOK) return true;
  if (id == IDCANCEL) {
    ShowWindow(hwnd(), SW_MINIMIZE);
    return true;
  }
  return false;
}

bool HostDlg::OnMessage(UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
  if (msg == Msg().delayDestroy && Msg().delayDestroy) {
    DestroyWindow(hwnd());
    result = 0;
    return true;
  }
  if (msg == WM_WINDOWPOSCHANGING) {
    // The host is never shown, whatever asks for it.
    reinterpret_cast<WINDOWPOS*>(lp)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    result = 0;
    return true;
  }
  return false;
}

void HostDlg::OnDestroy() { PostQuitMessage(0); }

}  // namespace qs::app
