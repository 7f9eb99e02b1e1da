// The main window: the device list on the left, the selected device's page on
// the right, the tray icon, and the scans that fill the list.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include <memory>
#include <string>

#include "app/dialog.h"
#include "app/pages.h"
#include "app/sink.h"
#include "app/tray_icon.h"
#include "discovery/device_manager.h"
#include "runtime/rc.h"

namespace qs::app {

class DiscoveryDlg : public DialogBase {
 public:
  explicit DiscoveryDlg(const std::wstring& instanceName) : instanceName_(instanceName) {}
  ~DiscoveryDlg() override;

  void OnDeviceReported(disc::IDeviceInfo* device);

 protected:
  bool OnInit() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool OnTimer(UINT_PTR id) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  void OnDestroy() override;

 private:
  HWND List() const { return Item(kListId); }
  static constexpr int kListId = 1000;

  void SetupColumns();
  void SetupRowHeight();
  void ClearList();  // ClearDevices, all rows, both pages hidden
  void Refresh();
  void ShowPageFor(int row);
  void HidePages();
  void RemoveDevice(disc::IDeviceInfo* record);
  void OnTray(UINT mouse);
  void ShowTrayMenu();
  void ShowFromTray();
  void ShowAbout();
  int RowOf(disc::IDeviceInfo* record) const;
  disc::IDeviceInfo* RecordAt(int row) const;
  int SelectedRow() const;
  void SelectRow(int row);
  void ShowNotice(bool show);
  void AddTaskbarTab();

  std::wstring instanceName_;
  std::wstring title_;
  ITaskbarList* taskbar_ = nullptr;
  Ref<disc::IDevMgr> manager_;
  Ref<DiscoverSinkObject<DiscoveryDlg>> sink_;
  TrayIcon tray_;
  HICON smallIcon_ = nullptr;
  HICON bigIcon_ = nullptr;
  HIMAGELIST rowHeight_ = nullptr;
  RECT pageRect_ = {};
  FirstFamilyPage firstFamilyPage_;
  KvxrPage kvxrPage_;
  HWND notice_ = nullptr;
  Ref<disc::IDeviceInfo> remembered_;
  DWORD rememberedTick_ = 0;
};

}  // namespace qs::app
