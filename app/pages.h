// The two device pages on the right of the main window: the first-family page
// (address, out-of-network warning, web page) and the KV-xR page (identity, IP
// settings, wink, firmware link).
#pragma once
#include <windows.h>

#include <string>

#include "app/dialog.h"
#include "app/logic/kvxr_settings.h"
#include "discovery/device_info.h"
#include "runtime/rc.h"

namespace qs::app {

class FirstFamilyPage : public DialogBase {
 public:
  void SetAddress(uint32_t address);

 protected:
  bool OnCommand(int id, int code, HWND control) override;

 private:
  uint32_t address_ = 0;
};

class KvxrPage : public DialogBase {
 public:
  // Takes a reference; the same record again only reloads the fields.
  void SetDevice(disc::IDeviceInfo* record);
  disc::IDeviceInfo* record() const { return record_.get(); }

 protected:
  bool OnInit() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;

 private:
  void LoadFields();
  void UpdateControls();
  NetSettings Fields() const;
  RecordSettings FromRecord() const;
  uint32_t GetIp(int id) const;
  void SetIp(int id, uint32_t address);
  void OnAddressEdited();
  void Apply();
  // false (after telling why, with the field focused) when a static address,
  // netmask or gateway is refused, or the user keeps a warned-about gateway.
  bool CheckAddresses(const NetSettings& fields);
  void FocusAddress(int id);
  void Identify();
  // String id's format with the phrase (%ls) and a status (%d).
  std::wstring Format(int id, const std::string& phrase, int32_t status = 0) const;
  void RemoveFromList(disc::IDeviceInfo* record);

  Ref<disc::IDeviceInfo> record_;
  bool loading_ = false;  // fields being set by the page itself
};

// What the record says about its network settings.
RecordSettings SettingsOfRecord(disc::IDeviceInfo* record);

// The library's device handle for a record: the last device whose line names
// the record's MAC. false when the library lists none.
bool FindLibraryDevice(disc::IDeviceInfo* record, int32_t& handle);

}  // namespace qs::app
