#include "app/discovery_dlg.h"

#include <commctrl.h>
#include <objbase.h>
#include <windowsx.h>

#include <vector>

#include "app/firmware_search.h"
#include "app/instance.h"
#include "app/logic/device_order.h"
#include "app/recovery_dlg.h"
#include "app/resource.h"
#include "app/text_hook.h"
#include "app/win_text.h"
#include "app/window_util.h"
#include "discovery/model_table.h"

namespace qs::app {

namespace {

constexpr UINT_PTR kNoticeTimer = 1;
constexpr UINT_PTR kVisibleTimer = 2;

disc::IDeviceInfo* RecordOf(LPARAM data) { return reinterpret_cast<disc::IDeviceInfo*>(data); }

DeviceKey KeyOf(disc::IDeviceInfo* r) {
  DeviceKey k;
  k.modelId = r->GetModelId();
  k.address = r->GetAddress();
  r->GetMac(k.mac);
  r->GetHardwareId(k.hardwareId);
  return k;
}

// Fixed columns: the list swallows the header's tracking notifications and the
// header never shows the resize cursor.
LRESULT CALLBACK FixedListProc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  if (msg == WM_NOTIFY) {
    auto* h = reinterpret_cast<NMHDR*>(lp);
    if (h->code == HDN_BEGINTRACKW || h->code == HDN_DIVIDERDBLCLICKW) return TRUE;
  }
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(w, FixedListProc, 1);
  return DefSubclassProc(w, msg, wp, lp);
}

LRESULT CALLBACK FixedHeaderProc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  if (msg == WM_SETCURSOR) return TRUE;
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(w, FixedHeaderProc, 1);
  return DefSubclassProc(w, msg, wp, lp);
}

// The empty-list notice: a plain child of the list that says so.
LRESULT CALLBACK NoticeProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(w, &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, GetSysColorBrush(COLOR_WINDOW));
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(w, &ps);
      HFONT font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
      HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
      TEXTMETRICW tm;
      GetTextMetricsW(dc, &tm);
      RECT r;
      GetClientRect(w, &r);
      r.top += tm.tmHeight;
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      std::wstring text = LoadStr(IDS_NO_DEVICES);
      DrawTextW(dc, text.c_str(), -1, &r, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
      if (old) SelectObject(dc, old);
      EndPaint(w, &ps);
      return 0;
    }
    case WM_SETFONT:
      SetWindowLongPtrW(w, 0, static_cast<LONG_PTR>(wp));
      if (LOWORD(lp)) InvalidateRect(w, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return GetWindowLongPtrW(w, 0);
  }
  return DefWindowProcW(w, msg, wp, lp);
}

const wchar_t kNoticeClass[] = L"Quillscan.MsgWnd";

bool RegisterNoticeClass() {
  static bool done = false;
  if (done) return true;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = NoticeProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = Instance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kNoticeClass;
  done = RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return done;
}

struct WidthProbe {
  HDC dc;
  int widest;
};

void MeasureName(const std::u16string& name, void* context) {
  auto* p = static_cast<WidthProbe*>(context);
  std::wstring text = L" " + W(name) + L" ";
  SIZE s = {};
  if (GetTextExtentPoint32W(p->dc, text.c_str(), static_cast<int>(text.size()), &s) && s.cx > p->widest)
    p->widest = s.cx;
}

}  // namespace

DiscoveryDlg::~DiscoveryDlg() {
  if (sink_) sink_->Detach();
  if (taskbar_) taskbar_->Release();
  if (rowHeight_) ImageList_Destroy(rowHeight_);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

bool DiscoveryDlg::OnInit() {
  SetPropW(hwnd(), instanceName_.c_str(), reinterpret_cast<HANDLE>(1));
  {
    wchar_t t[256] = {};
    GetWindowTextW(hwnd(), t, 256);
    title_ = t;
  }
  CenterOnOwner(hwnd());

  SetProgramIcons(hwnd(), bigIcon_, smallIcon_);

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList,
                                 reinterpret_cast<void**>(&taskbar_))) &&
      taskbar_) {
    if (FAILED(taskbar_->HrInit())) {
      taskbar_->Release();
      taskbar_ = nullptr;
    }
  }
  AddTaskbarTab();

  HMENU sys = GetSystemMenu(hwnd(), FALSE);
  if (sys) {
    InsertMenuW(sys, 7, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuW(sys, 8, MF_BYPOSITION | MF_STRING | MF_UNCHECKED, IDM_RECOVERY, LoadStr(IDS_RECOVERY_MODE).c_str());
  }

  SetWindowSubclass(List(), FixedListProc, 1, 0);
  if (HWND header = ListView_GetHeader(List())) SetWindowSubclass(header, FixedHeaderProc, 1, 0);
  SetupColumns();
  ListView_SetExtendedListViewStyle(List(), LVS_EX_FULLROWSELECT | LVS_EX_FLATSB | LVS_EX_INFOTIP | LVS_EX_LABELTIP);
  SetupRowHeight();

  manager_ = Ref<disc::IDevMgr>::Adopt(disc::GetDeviceManager());
  sink_ = Ref<DiscoverSinkObject<DiscoveryDlg>>::Adopt(CreateObject<DiscoverSinkObject<DiscoveryDlg>>(this));
  if (manager_) manager_->Advise(sink_.get(), true);

  if (HWND placeholder = Item(IDC_PAGE_AREA)) {
    GetWindowRect(placeholder, &pageRect_);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&pageRect_), 2);
    DestroyWindow(placeholder);
  }
  firstFamilyPage_.Create(IDD_PAGE_RMT, hwnd());
  kvxrPage_.Create(IDD_PAGE_KVXR, hwnd());

  tray_.Init(hwnd(), Msg().tray, title_, smallIcon_);
  tray_.Update(std::wstring(), false);

  SearchFirmwareFiles();
  SetTimer(hwnd(), kVisibleTimer, 100, nullptr);
  return true;
}

void DiscoveryDlg::SetupColumns() {
  HWND list = List();
  HDC dc = GetDC(list);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  WidthProbe probe = {dc, 0};
  disc::EnumModelNames(MeasureName, &probe);
  if (old) SelectObject(dc, old);
  ReleaseDC(list, dc);

  RECT client;
  GetClientRect(list, &client);
  std::wstring device = LoadStr(IDS_COL_DEVICE), ip = LoadStr(IDS_COL_IP);
  LVCOLUMNW c = {};
  c.mask = LVCF_TEXT | LVCF_WIDTH;
  c.pszText = &device[0];
  c.cx = probe.widest;
  ListView_InsertColumn(list, 0, &c);
  c.pszText = &ip[0];
  c.cx = client.right - probe.widest;
  ListView_InsertColumn(list, 1, &c);
  int rest = client.right - ListView_GetColumnWidth(list, 0);
  ListView_SetColumnWidth(list, 1, rest < 0 ? 40 : rest);
}

void DiscoveryDlg::SetupRowHeight() {
  HWND list = List();
  HDC dc = GetDC(list);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SIZE s = {};
  GetTextExtentPoint32W(dc, L"WWWjqpy", 7, &s);
  if (old) SelectObject(dc, old);
  ReleaseDC(list, dc);
  // A state image as tall as the row should be sets the row height.
  rowHeight_ = ImageList_Create(1, s.cy * 3 / 2, ILC_COLOR, 1, 0);
  if (rowHeight_) ListView_SetImageList(list, rowHeight_, LVSIL_STATE);
}

void DiscoveryDlg::AddTaskbarTab() {
  if (!taskbar_) return;
  taskbar_->AddTab(hwnd());
  taskbar_->ActivateTab(hwnd());
}

disc::IDeviceInfo* DiscoveryDlg::RecordAt(int row) const {
  LVITEMW it = {};
  it.mask = LVIF_PARAM;
  it.iItem = row;
  if (!ListView_GetItem(List(), &it)) return nullptr;
  return RecordOf(it.lParam);
}

int DiscoveryDlg::RowOf(disc::IDeviceInfo* record) const {
  int n = ListView_GetItemCount(List());
  for (int i = 0; i < n; ++i)
    if (RecordAt(i) == record) return i;
  return -1;
}

int DiscoveryDlg::SelectedRow() const { return ListView_GetNextItem(List(), -1, LVNI_SELECTED); }

void DiscoveryDlg::SelectRow(int row) {
  HWND list = List();
  if (!(GetWindowLongW(list, GWL_STYLE) & LVS_SINGLESEL)) ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(list, row, FALSE);
}

void DiscoveryDlg::HidePages() {
  ShowWindow(firstFamilyPage_.hwnd(), SW_HIDE);
  ShowWindow(kvxrPage_.hwnd(), SW_HIDE);
}

void DiscoveryDlg::ShowPageFor(int row) {
  disc::IDeviceInfo* r = RecordAt(row);
  if (!r) {
    HidePages();
    return;
  }
  auto place = [this](HWND page) {
    SetWindowPos(page, HWND_TOP, pageRect_.left, pageRect_.top, pageRect_.right - pageRect_.left,
                 pageRect_.bottom - pageRect_.top, SWP_SHOWWINDOW);
  };
  switch (PageFor(r->GetModelId())) {
    case PageKind::FirstFamily:
      firstFamilyPage_.SetAddress(r->GetAddress());
      place(firstFamilyPage_.hwnd());
      ShowWindow(kvxrPage_.hwnd(), SW_HIDE);
      break;
    case PageKind::Kvxr:
      kvxrPage_.SetDevice(r);
      place(kvxrPage_.hwnd());
      ShowWindow(firstFamilyPage_.hwnd(), SW_HIDE);
      break;
    default:
      HidePages();
  }
}

void DiscoveryDlg::ShowNotice(bool show) {
  HWND list = List();
  if (!show) {
    if (notice_ && IsWindowVisible(notice_)) {
      ShowWindow(notice_, SW_HIDE);
      InvalidateRect(list, nullptr, TRUE);
      UpdateWindow(list);
    }
    return;
  }
  if (!notice_ && RegisterNoticeClass()) {
    notice_ = CreateWindowExW(0, kNoticeClass, L"", WS_CHILD, 0, 0, 0, 0, list, nullptr, Instance(), nullptr);
    if (notice_) SendMessageW(notice_, WM_SETFONT, SendMessageW(list, WM_GETFONT, 0, 0), FALSE);
  }
  if (!notice_) return;
  RECT client, header = {};
  GetClientRect(list, &client);
  if (HWND h = ListView_GetHeader(list)) GetWindowRect(h, &header);
  int top = (header.bottom - header.top) + 1;
  SetWindowPos(notice_, HWND_TOP, 0, top, client.right, client.bottom - top, SWP_SHOWWINDOW);
  InvalidateRect(notice_, nullptr, TRUE);
}

void DiscoveryDlg::ClearList() {
  if (manager_) manager_->ClearDevices();
  ListView_DeleteAllItems(List());
  HidePages();
}

void DiscoveryDlg::Refresh() {
  rememberedTick_ = GetTickCount();
  int sel = SelectedRow();
  if (sel >= 0) remembered_ = RecordAt(sel);
  else remembered_.reset();
  ClearList();
  InvalidateRect(List(), nullptr, TRUE);
  UpdateWindow(List());
  ShowNotice(false);
  if (manager_) manager_->Scan();
  SetTimer(hwnd(), kNoticeTimer, 1000, nullptr);
}

void DiscoveryDlg::OnDeviceReported(disc::IDeviceInfo* device) {
  if (!device) return;
  HWND list = List();
  bool wasEmpty = ListView_GetItemCount(list) == 0;
  int row = RowOf(device);
  if (row < 0) {
    std::vector<DeviceKey> keys;
    int n = ListView_GetItemCount(list);
    for (int i = 0; i < n; ++i)
      if (disc::IDeviceInfo* r = RecordAt(i)) keys.push_back(KeyOf(r));
    std::wstring name = W(device->GetName());
    LVITEMW it = {};
    it.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    it.iItem = static_cast<int>(InsertPosition(keys, KeyOf(device)));
    it.pszText = &name[0];
    it.iImage = 0;
    it.lParam = 0;
    row = ListView_InsertItem(list, &it);
    if (row < 0) return;
    // A device is there: the notice must not hide it.
    ShowNotice(false);
  }
  std::wstring last = W(LastOctetText(device->GetAddress()));
  ListView_SetItemText(list, row, 1, &last[0]);

  disc::IDeviceInfo* previous = RecordAt(row);
  device->AddRef();
  LVITEMW it = {};
  it.mask = LVIF_PARAM;
  it.iItem = row;
  it.lParam = reinterpret_cast<LPARAM>(device);
  ListView_SetItem(list, &it);
  if (previous) previous->Release();

  bool same = false;
  if (remembered_) same = SameDevice(KeyOf(remembered_.get()), KeyOf(device));
  if (ShouldSelect(static_cast<bool>(remembered_), same, GetTickCount() - rememberedTick_, wasEmpty))
    SelectRow(row);
  if (SelectedRow() == row) ShowPageFor(row);
}

void DiscoveryDlg::RemoveDevice(disc::IDeviceInfo* record) {
  int row = RowOf(record);
  if (row < 0) return;
  ListView_DeleteItem(List(), row);
  int next = RowAfterRemoval(row, ListView_GetItemCount(List()));
  if (next >= 0) ShowPageFor(next);
}

bool DiscoveryDlg::OnCommand(int id, int code, HWND) {
  (void)code;
  switch (id) {
    case IDOK:
      Refresh();
      return true;
    case IDCANCEL:
      if (GetKeyState(VK_SHIFT) < 0) {
        End(0);
      } else {
        if (taskbar_) taskbar_->DeleteTab(hwnd());
        ShowWindow(hwnd(), SW_HIDE);
      }
      return true;
    case IDM_SCAN:
      if (manager_) manager_->Scan();
      return true;
    case IDM_DISPLAY_LIST:
      ClearList();
      AddTaskbarTab();
      ShowWindow(hwnd(), SW_RESTORE);
      InvalidateRect(hwnd(), nullptr, TRUE);
      UpdateWindow(hwnd());
      PostMessageW(hwnd(), WM_COMMAND, IDM_SCAN, 0);
      return true;
    case IDM_ABOUT:
      ShowAbout();
      return true;
    case IDM_EXIT:
      End(0);
      return true;
  }
  return false;
}

bool DiscoveryDlg::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != kListId) return false;
  if (header->code == LVN_ITEMCHANGED) {
    auto* n = reinterpret_cast<NMLISTVIEW*>(header);
    if ((n->uChanged & LVIF_STATE) && (n->uNewState & LVIS_SELECTED) && !(n->uOldState & LVIS_SELECTED))
      ShowPageFor(n->iItem);
    result = 0;
    return true;
  }
  if (header->code == LVN_DELETEITEM) {
    auto* n = reinterpret_cast<NMLISTVIEW*>(header);
    if (disc::IDeviceInfo* r = RecordOf(n->lParam)) r->Release();
    result = 0;
    return true;
  }
  return false;
}

bool DiscoveryDlg::OnTimer(UINT_PTR id) {
  if (id == kVisibleTimer) {
    if (!IsWindowVisible(hwnd())) return true;
    KillTimer(hwnd(), kVisibleTimer);
    InvalidateRect(hwnd(), nullptr, TRUE);
    UpdateWindow(hwnd());
    tray_.Update(LoadStr(IDS_READY_TO_DISCOVER), true);
    ShowNotice(false);
    if (manager_) manager_->Scan();
    SetTimer(hwnd(), kNoticeTimer, 1000, nullptr);
    return true;
  }
  if (id == kNoticeTimer) {
    KillTimer(hwnd(), kNoticeTimer);
    ShowNotice(ListView_GetItemCount(List()) == 0);
    return true;
  }
  return false;
}

void DiscoveryDlg::ShowFromTray() {
  ClearList();
  ShowWindow(hwnd(), SW_SHOWNA);
  InvalidateRect(hwnd(), nullptr, TRUE);
  UpdateWindow(hwnd());
  AddTaskbarTab();
  PostMessageW(hwnd(), WM_COMMAND, IDM_SCAN, 0);
}

void DiscoveryDlg::ShowTrayMenu() {
  HMENU menu = LoadMenuW(Instance(), MAKEINTRESOURCEW(IDM_TRAY));
  if (!menu) return;
  POINT p;
  GetCursorPos(&p);
  if (!MonitorFromPoint(p, MONITOR_DEFAULTTONULL)) {
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST), &mi);
    if (p.x < mi.rcWork.left) p.x = mi.rcWork.left;
    if (p.x > mi.rcWork.right) p.x = mi.rcWork.right;
  }
  SetForegroundWindow(hwnd());
  TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, p.x, p.y, 0, hwnd(), nullptr);
  DestroyMenu(menu);
}

void DiscoveryDlg::OnTray(UINT mouse) {
  switch (mouse) {
    case WM_LBUTTONDOWN:
      if (IsWindowVisible(hwnd()) && !IsIconic(hwnd())) ShowWindow(hwnd(), SW_HIDE);
      else ShowFromTray();
      break;
    case WM_RBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_CONTEXTMENU:
      ShowTrayMenu();
      break;
  }
}

void DiscoveryDlg::ShowAbout() {
  class AboutDlg : public DialogBase {
   protected:
    bool OnInit() override {
      CenterOnOwner(hwnd());
      return true;
    }
    bool OnCommand(int id, int, HWND) override {
      if (id != IDOK && id != IDCANCEL) return false;
      End(id);
      return true;
    }
  } about;
  TextReplaceHook hook(L"ver.xxxx", VersionText());
  HWND owner = GetActiveWindow();
  about.RunModal(IDD_ABOUT, owner ? owner : hwnd());
}

bool DiscoveryDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  const Messages& m = Msg();
  if (msg == m.tray && m.tray) {
    OnTray(LOWORD(lp));
    result = 0;
    return true;
  }
  if (msg == m.removeDevice && m.removeDevice) {
    RemoveDevice(reinterpret_cast<disc::IDeviceInfo*>(lp));
    result = 0;
    return true;
  }
  if (msg == m.terminate && m.terminate) {
    End(-2);
    result = 0;
    return true;
  }
  if (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == IDM_RECOVERY) {
    // The units in recovery are not the list's devices: the list starts
    // empty again and stays so until the next refresh.
    ClearList();
    RunRecovery(hwnd());
    result = 0;
    return true;
  }
  return false;
}

void DiscoveryDlg::OnDestroy() {
  KillTimer(hwnd(), kNoticeTimer);
  KillTimer(hwnd(), kVisibleTimer);
  if (sink_) {
    sink_->Detach();
    if (manager_) manager_->Advise(sink_.get(), false);
  }
  tray_.Remove();
  // Rows give their references back while the window still answers.
  ListView_DeleteAllItems(List());
  RemovePropW(hwnd(), instanceName_.c_str());
}

}  // namespace qs::app
