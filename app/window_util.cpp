#include "app/window_util.h"

#include "app/dialog.h"
#include "app/resource.h"

namespace qs::app {

void CenterOnOwner(HWND w) {
  HWND owner = GetWindow(w, GW_OWNER);
  MONITORINFO mi = {};
  mi.cbSize = sizeof mi;
  GetMonitorInfoW(MonitorFromWindow(owner && IsWindowVisible(owner) ? owner : w, MONITOR_DEFAULTTONEAREST), &mi);
  RECT area = mi.rcWork, self;
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &area);
  GetWindowRect(w, &self);
  int cx = self.right - self.left, cy = self.bottom - self.top;
  int x = area.left + (area.right - area.left - cx) / 2;
  int y = area.top + (area.bottom - area.top - cy) / 2;
  if (x + cx > mi.rcWork.right) x = mi.rcWork.right - cx;
  if (y + cy > mi.rcWork.bottom) y = mi.rcWork.bottom - cy;
  if (x < mi.rcWork.left) x = mi.rcWork.left;
  if (y < mi.rcWork.top) y = mi.rcWork.top;
  SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetProgramIcons(HWND w, HICON& big, HICON& small) {
  big = static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                      GetSystemMetrics(SM_CYICON), 0));
  small = static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(w, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(w, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

int ShowMessage(HWND owner, const std::wstring& text, UINT flags) {
  return MessageBoxW(owner, text.c_str(), AppName().c_str(), flags);
}

}  // namespace qs::app
