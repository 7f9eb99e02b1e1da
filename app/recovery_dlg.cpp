#include "app/recovery_dlg.h"

#include <commctrl.h>

#include <cwchar>
#include <string>

#include "app/dialog.h"
#include "app/logic/firmware_choice.h"
#include "app/logic/recovery_list.h"
#include "app/resource.h"
#include "app/win_text.h"
#include "app/window_util.h"
#include "library/KV-xR_update.h"

namespace qs::app {

namespace {

// The small window that tells what to do until the first unit is found.
class HintDlg : public DialogBase {
 protected:
  bool OnCommand(int id, int, HWND) override {
    if (id != IDOK && id != IDCANCEL) return false;
    End(id);
    return true;
  }
  bool OnMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) override {
    if (msg != WM_CLOSE) return false;
    End(IDCANCEL);
    result = 0;
    return true;
  }
};

class RecoveryModeDlg;
constexpr UINT kShowHint = WM_APP + 1;
// The library's recovery callback finds the dialog here.
RecoveryModeDlg* g_dialog = nullptr;

std::wstring AddressText(uint32_t a) {
  wchar_t buf[32];
  swprintf(buf, 32, L"%u.%u.%u.%u", a >> 24, (a >> 16) & 255u, (a >> 8) & 255u, a & 255u);
  return buf;
}

std::wstring MacText(const uint8_t m[6]) {
  wchar_t buf[32];
  swprintf(buf, 32, L"%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

struct ListColumn {
  const wchar_t* title;
  int width;  // pixels at 96 dots per inch; 0 hidden
  const wchar_t* widest;
};

// Each shown column as wide as its width scaled to the display, and at least
// as wide as its title and its widest text in the list's font; the last one
// takes the rest of the list.
void ColumnWidths(HWND list, const ListColumn* columns, size_t n, int* widths) {
  HDC dc = GetDC(list);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
  HGDIOBJ old = dc ? SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0))) : nullptr;
  auto textWidth = [dc](const wchar_t* t) {
    SIZE size = {};
    if (dc && t[0]) GetTextExtentPoint32W(dc, t, static_cast<int>(wcslen(t)), &size);
    return static_cast<int>(size.cx);
  };
  // The cell's margins, and in the first column the check box.
  const int pad = MulDiv(14, dpi, 96);
  const int box = GetSystemMetrics(SM_CXSMICON) + MulDiv(4, dpi, 96);
  int used = 0;
  for (size_t i = 0; i < n; ++i) {
    widths[i] = columns[i].width;
    if (widths[i] == 0) continue;
    int title = textWidth(columns[i].title), widest = textWidth(columns[i].widest);
    int need = (title > widest ? title : widest) + pad + (i == 0 ? box : 0);
    widths[i] = MulDiv(widths[i], dpi, 96);
    if (widths[i] < need) widths[i] = need;
    if (i + 1 < n) used += widths[i];
  }
  if (dc) {
    SelectObject(dc, old);
    ReleaseDC(list, dc);
  }
  RECT client = {};
  GetClientRect(list, &client);
  int rest = client.right - GetSystemMetrics(SM_CXVSCROLL) - used;
  if (n > 0 && rest > widths[n - 1]) widths[n - 1] = rest;
}

class RecoveryModeDlg : public DialogBase {
 public:
  ~RecoveryModeDlg() override {
    if (g_dialog == this) g_dialog = nullptr;
    if (bigIcon_) DestroyIcon(bigIcon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
  }

  void OnRecoveryEvent(int32_t handle, const KVxR_WCHAR* text, int32_t event, int32_t value) {
    // The description is short; a runaway text is cut, and then fails to parse.
    size_t n = 0;
    while (text && n < 64 && text[n]) ++n;
    std::u16string t(n, u'\0');
    for (size_t i = 0; i < n; ++i) t[i] = static_cast<char16_t>(text[i]);
    RecoveryChange c = list_.OnEvent(handle, t, event, value);
    if (c.added >= 0) AddRow(c.added);
    if (c.changed >= 0) ShowRow(c.changed);
    if (c.hideHint && hint_.hwnd()) ShowWindow(hint_.hwnd(), SW_HIDE);
    if (c.batchEnded)
      for (int i = 0; i < ListView_GetItemCount(List()); ++i) ListView_SetCheckState(List(), i, FALSE);
    UpdateRecover();
  }

 protected:
  bool OnInit() override {
    SetProgramIcons(hwnd(), bigIcon_, smallIcon_);
    ListView_SetExtendedListViewStyle(List(), LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT |
                                                  LVS_EX_INFOTIP);
    // The widths are for 96 dots per inch and the dialog font; a larger
    // font or scaling widens a column to its title and its widest text
    // (hidden columns stay hidden), and "Status" takes what is left.
    const ListColumn columns[] = {{L"Device type", 100, L"KV-xR"},
                              {L"IP Address", 95, L"888.888.888.888"},
                              {L"Physical address", 110, L"DD-DD-DD-DD-DD-DD"},
                              {L"Version", 0, L""},
                              {L"Status", 150, L"Already up-to-date."}};
    int widths[5];
    ColumnWidths(List(), columns, 5, widths);
    for (int i = 0; i < 5; ++i) {
      LVCOLUMNW col = {};
      col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
      col.fmt = LVCFMT_LEFT;
      col.cx = widths[i];
      col.pszText = const_cast<wchar_t*>(columns[i].title);
      col.iSubItem = i;
      ListView_InsertColumn(List(), i, &col);
    }
    KVxR_WCHAR version[1024] = {};
    std::wstring path = W(LastAcceptedFirmware().path);
    KVxR_SetFirmwareFile(path.c_str(), version, 1024);
    g_dialog = this;
    KVxR_SetRecoveryMode(1, OnRecovery);
    // The hint is placed beside this dialog once the dialog has its place.
    PostMessageW(hwnd(), kShowHint, 0, 0);
    UpdateRecover();
    return true;
  }

  bool OnCommand(int id, int code, HWND) override {
    if (id == IDOK && code == BN_CLICKED) {
      Recover();
      return true;
    }
    if (id == IDCANCEL) {  // "Exit", the close box and Escape
      Exit();
      return true;
    }
    return false;
  }

  bool OnMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) override {
    if (msg != kShowHint) return false;
    if (!hint_.hwnd() && hint_.Create(IDD_RECOVERY_HINT, hwnd())) PlaceHint();
    if (hint_.hwnd() && list_.rows().empty()) ShowWindow(hint_.hwnd(), SW_SHOWNOACTIVATE);
    result = 0;
    return true;
  }

  bool OnNotify(NMHDR* header, LRESULT& result) override {
    if (header->idFrom != IDC_DEVICE_LIST || header->code != LVN_ITEMCHANGED) return false;
    // The rows' order is the list's: a row's check box is the model's tick.
    auto* n = reinterpret_cast<NMLISTVIEW*>(header);
    if (n->iItem >= 0 && (n->uChanged & LVIF_STATE))
      list_.SetChecked(static_cast<size_t>(n->iItem), ListView_GetCheckState(List(), n->iItem) != FALSE);
    UpdateRecover();
    result = 0;
    return true;
  }

  void OnDestroy() override {
    if (g_dialog == this) g_dialog = nullptr;
    if (hint_.hwnd()) DestroyWindow(hint_.hwnd());
  }

 private:
  // The window does not own the icons it is given.
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;

  static void OnRecovery(int32_t handle, const KVxR_WCHAR* text, int32_t event, int32_t value) {
    if (g_dialog) g_dialog->OnRecoveryEvent(handle, text, event, value);
  }

  HWND List() const { return Item(IDC_DEVICE_LIST); }

  // Centred under this dialog, or over it when there is no room below or
  // above: a window on top of its owner is not kept there everywhere (Wine
  // raises the owner over it), and a hint under the dialog would not be read.
  void PlaceHint() {
    HWND hint = hint_.hwnd();
    RECT me, it;
    GetWindowRect(hwnd(), &me);
    GetWindowRect(hint, &it);
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(hwnd(), MONITOR_DEFAULTTONEAREST), &mi);
    int cx = it.right - it.left, cy = it.bottom - it.top;
    int x = me.left + ((me.right - me.left) - cx) / 2;
    int y;
    if (me.bottom + cy <= mi.rcWork.bottom) y = me.bottom;
    else if (me.top - cy >= mi.rcWork.top) y = me.top - cy;
    else return CenterOnOwner(hint);
    if (x + cx > mi.rcWork.right) x = mi.rcWork.right - cx;
    if (x < mi.rcWork.left) x = mi.rcWork.left;
    SetWindowPos(hint, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void AddRow(int row) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(L"KV-xR");
    int at = ListView_InsertItem(List(), &item);
    if (at < 0) return;
    ListView_SetCheckState(List(), at, FALSE);
    ShowRow(row);
  }

  void ShowRow(int row) {
    const RecoveryRow& r = list_.rows()[static_cast<size_t>(row)];
    SetCell(row, 1, AddressText(r.address));
    SetCell(row, 2, MacText(r.mac));
    SetCell(row, 3, FromAnsi(RecoveryList::VersionText(r)));
    SetCell(row, 4, FromAnsi(r.status));
  }

  void SetCell(int row, int column, const std::wstring& text) {
    ListView_SetItemText(List(), row, column, const_cast<wchar_t*>(text.c_str()));
  }

  void UpdateRecover() { EnableItem(IDOK, list_.RecoverableCount() > 0); }

  void Recover() {
    for (int32_t handle : list_.StartRecover())
      if (KVxR_ResumeRecovery(handle) < 0) list_.Refused(handle);
    UpdateRecover();
  }

  void Exit() {
    size_t left = list_.NotDoneCount();
    if (left > 0) {
      wchar_t text[256];
      swprintf(text, 256, L"%u devices have not been recovered yet.\n\nDo you wish to exit Recovery Mode anyway?\n",
               static_cast<unsigned>(left));
      if (ShowMessage(hwnd(), text, MB_YESNO) != IDYES) return;
    }
    End(2);
  }

  RecoveryList list_;
  HintDlg hint_;
};

}  // namespace

INT_PTR RunRecovery(HWND owner) {
  INT_PTR r;
  {
    RecoveryModeDlg dlg;
    r = dlg.RunModal(IDD_RECOVERY, owner);
  }
  KVxR_SetRecoveryMode(0, nullptr);
  return r;
}

}  // namespace qs::app
