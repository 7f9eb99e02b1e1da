// The self-painted progress bar and the dialog that waits for a device to be
// reported again after its network settings changed.
#pragma once
#include <windows.h>

#include <string>

#include "app/dialog.h"
#include "app/logic/comeback.h"
#include "discovery/device_manager.h"
#include "runtime/rc.h"

namespace qs::app {

// A progress control that draws its own bar and a percentage text on it.
class ProgressCtrl2 {
 public:
  ProgressCtrl2() = default;
  ~ProgressCtrl2();
  ProgressCtrl2(const ProgressCtrl2&) = delete;
  ProgressCtrl2& operator=(const ProgressCtrl2&) = delete;

  bool Subclass(HWND control);
  // The format gets the percentage as its only argument.
  void SetFormat(const std::wstring& format, bool leftAligned);
  void SetPos(uint32_t position);
  void SetBounds(uint32_t lower, uint32_t upper) { lower_ = lower, upper_ = upper; }
  uint32_t pos() const { return position_; }
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void EraseBackground(HDC dc);
  void Paint(HDC dc);
  std::wstring Text() const;
  void Publish();

  HWND hwnd_ = nullptr;
  uint32_t upper_ = 100;
  uint32_t lower_ = 0;
  uint32_t position_ = 0;
  std::wstring format_ = L"%ld%%";
  bool leftAligned_ = false;
  bool firstPaintPending_ = true;
  std::wstring published_;
};

// Modal; 1 when the record was reported again with the new settings (as the
// check takes them), 2 when the time limit passed.
INT_PTR RunProgress(HWND owner, const std::wstring& text, disc::IDeviceInfo* record, uint32_t limitMs,
                    const ComebackCheck& check);

}  // namespace qs::app
