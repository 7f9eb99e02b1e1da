#include "app/progress_dlg.h"

#include <commctrl.h>

#include <cwchar>

#include "app/logic/progress.h"
#include "app/pages.h"
#include "app/resource.h"
#include "app/sink.h"
#include "app/window_util.h"

namespace qs::app {

ProgressCtrl2::~ProgressCtrl2() {
  if (hwnd_) RemoveWindowSubclass(hwnd_, Proc, 1);
}

bool ProgressCtrl2::Subclass(HWND control) {
  if (!control || !SetWindowSubclass(control, Proc, 1, reinterpret_cast<DWORD_PTR>(this))) return false;
  hwnd_ = control;
  return true;
}

void ProgressCtrl2::SetFormat(const std::wstring& format, bool leftAligned) {
  format_ = format;
  leftAligned_ = leftAligned;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
  Publish();
}

void ProgressCtrl2::SetPos(uint32_t position) {
  uint32_t before = ProgressPercent(lower_, upper_, position_);
  position_ = position;
  uint32_t after = ProgressPercent(lower_, upper_, position_);
  if ((after != before || firstPaintPending_) && hwnd_) {
    firstPaintPending_ = false;
    InvalidateRect(hwnd_, nullptr, TRUE);
    UpdateWindow(hwnd_);
  }
  Publish();
}

void ProgressCtrl2::Publish() {
  // The bar paints its text itself; its window text carries the same for
  // screen readers and for tools that read windows.
  if (!hwnd_) return;
  std::wstring text = Text();
  if (text == published_) return;
  published_ = text;
  SetWindowTextW(hwnd_, text.c_str());
}

std::wstring ProgressCtrl2::Text() const {
  wchar_t buf[256];
  // The formats are the program's own: a percentage conversion or plain text.
  int n = swprintf(buf, 256, format_.c_str(), static_cast<unsigned>(ProgressPercent(lower_, upper_, position_)));
  return n > 0 ? std::wstring(buf, static_cast<size_t>(n)) : std::wstring();
}

void ProgressCtrl2::EraseBackground(HDC dc) {
  RECT r;
  GetClientRect(hwnd_, &r);
  int x = r.left + FilledWidth(r.right - r.left, lower_, upper_, position_);
  RECT done = {r.left, r.top, x, r.bottom};
  RECT rest = {x, r.top, r.right, r.bottom};
  if (x > r.left) FillRect(dc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));
  FillRect(dc, &rest, GetSysColorBrush(COLOR_BTNFACE));
}

void ProgressCtrl2::Paint(HDC dc) {
  RECT r;
  GetClientRect(hwnd_, &r);
  int x = r.left + FilledWidth(r.right - r.left, lower_, upper_, position_);
  std::wstring text = Text();
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(GetParent(hwnd_), WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (leftAligned_ ? DT_LEFT : DT_CENTER);
  RECT t = r;
  if (leftAligned_) t.left += 4;
  int saved = SaveDC(dc);
  IntersectClipRect(dc, r.left, r.top, x, r.bottom);
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, flags);
  RestoreDC(dc, saved);
  saved = SaveDC(dc);
  IntersectClipRect(dc, x, r.top, r.right, r.bottom);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t, flags);
  RestoreDC(dc, saved);
  if (old) SelectObject(dc, old);
  // The rest of the bar has the dialog's own colour: a frame shows how far
  // the bar reaches.
  FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
}

LRESULT CALLBACK ProgressCtrl2::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<ProgressCtrl2*>(data);
  switch (msg) {
    case WM_ERASEBKGND:
      self->EraseBackground(reinterpret_cast<HDC>(wp));
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (ps.fErase) self->EraseBackground(dc);
      self->Paint(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, Proc, 1);
      self->hwnd_ = nullptr;
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

namespace {

class DlgProgress : public DialogBase {
 public:
  DlgProgress(const std::wstring& text, disc::IDeviceInfo* record, uint32_t limitMs, const ComebackCheck& check)
      : text_(text), record_(record), wait_(limitMs, GetTickCount()), check_(check) {}
  ~DlgProgress() override { Unadvise(); }

  // Only a report that shows the new settings ends the wait: the device may
  // still be reported as it was before its restart.
  void OnDeviceReported(disc::IDeviceInfo* device) {
    if (device != record_.get()) return;
    if (probing_) probeAnswered_ = true;
    if (check_.Accept(disc::DetailsOf(device) != nullptr, SettingsOfRecord(device))) End(1);
  }

 protected:
  bool OnInit() override {
    CenterOnOwner(hwnd());
    SetItemText(IDC_PROGRESS_TEXT, text_);
    bar_.Subclass(Item(IDC_PROGRESS_BAR));
    bar_.SetFormat(L"%u%%", false);
    bar_.SetBounds(0, wait_.limit());
    bar_.SetPos(0);
    manager_ = Ref<disc::IDevMgr>::Adopt(disc::GetDeviceManager());
    sink_ = Ref<DiscoverSinkObject<DlgProgress>>::Adopt(CreateObject<DiscoverSinkObject<DlgProgress>>(this));
    if (manager_) manager_->Advise(sink_.get(), true);
    wait_ = DeviceWait(wait_.limit(), GetTickCount());
    SetTimer(hwnd(), 1, 1000, nullptr);
    SetTimer(hwnd(), 2, 2500, nullptr);
    Scan();
    return true;
  }
  bool OnTimer(UINT_PTR id) override {
    if (id == 1) {
      uint32_t pos = 0;
      if (wait_.Tick(GetTickCount(), pos)) bar_.SetPos(pos);
      else End(2);
      return true;
    }
    if (id == 2) {
      Scan();
      return true;
    }
    return false;
  }
  // No way to close it: Escape and the close box do nothing.
  bool OnCommand(int id, int, HWND) override { return id == IDOK || id == IDCANCEL; }
  void OnDestroy() override {
    KillTimer(hwnd(), 1);
    KillTimer(hwnd(), 2);
    Unadvise();
  }

 private:
  // The program's own datagram scan runs inside Scan() and reports what
  // answers before it returns (the library's lines come later, through the
  // window's messages): a device that is up answers it.
  void Scan() {
    if (!manager_) return;
    probing_ = true;
    probeAnswered_ = false;
    manager_->Scan();
    probing_ = false;
    check_.NoteProbe(probeAnswered_);
  }

  void Unadvise() { ReleaseSink(manager_, sink_); }

  std::wstring text_;
  Ref<disc::IDeviceInfo> record_;
  DeviceWait wait_;
  ComebackCheck check_;
  bool probing_ = false;
  bool probeAnswered_ = false;
  ProgressCtrl2 bar_;
  Ref<disc::IDevMgr> manager_;
  Ref<DiscoverSinkObject<DlgProgress>> sink_;
};

}  // namespace

INT_PTR RunProgress(HWND owner, const std::wstring& text, disc::IDeviceInfo* record, uint32_t limitMs,
                    const ComebackCheck& check) {
  DlgProgress dlg(text, record, limitMs, check);
  return dlg.RunModal(IDD_PROGRESS, owner);
}

}  // namespace qs::app
