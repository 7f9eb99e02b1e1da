#include "app/pages.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>

#include "app/fw_update_dlg.h"
#include "app/instance.h"
#include "app/logic/address_rule.h"
#include "app/logic/comeback.h"
#include "app/logic/device_line.h"
#include "app/logic/firmware_choice.h"
#include "app/logic/fw_update_steps.h"
#include "app/logic/wink_rule.h"
#include "app/progress_dlg.h"
#include "app/resource.h"
#include "app/win_text.h"
#include "app/window_util.h"
#include "discovery/wink.h"
#include "library/KV-xR_update.h"
#include "library/status_text.h"
#include "net/adapters.h"

namespace qs::app {

// ---- first-family page ----

void FirstFamilyPage::SetAddress(uint32_t address) {
  address_ = address;
  SetItemText(IDC_IP_ADDRESS, W(FormatIPv4(address)));
  SetItemText(IDC_WARNING, net::IsLocalAddress(address) ? std::wstring() : LoadStr(IDS_OUT_OF_NETWORK));
}

bool FirstFamilyPage::OnCommand(int id, int code, HWND) {
  if (id != IDC_CONFIGURE || code != BN_CLICKED) return false;
  std::wstring url = L"http://" + W(FormatIPv4(address_));
  ShellExecuteW(hwnd(), L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return true;
}

// ---- finding the library's device ----

namespace {
// One search at a time, filled by the enumeration callback inside the call.
DeviceSearch* g_search = nullptr;

void OnEnumDevice(int32_t device, const KVxR_WCHAR* line) {
  if (!g_search || !line) return;
  // The library's lines are short; a runaway text is cut rather than read on.
  size_t n = 0;
  while (n < 1024 && line[n]) ++n;
  g_search->Offer(device, ToAnsi(std::wstring_view(line, n)));
}
}  // namespace

bool FindLibraryDevice(disc::IDeviceInfo* record, int32_t& handle) {
  uint8_t mac[6];
  record->GetMac(mac);
  DeviceSearch search(mac);
  g_search = &search;
  KVxR_EnumDevices(OnEnumDevice);
  g_search = nullptr;
  if (!search.found()) return false;
  handle = search.handle();
  return true;
}

// ---- KV-xR page ----

bool KvxrPage::OnInit() { return false; }

void KvxrPage::SetDevice(disc::IDeviceInfo* record) {
  record_ = record;
  LoadFields();
}

uint32_t KvxrPage::GetIp(int id) const {
  DWORD a = 0;
  SendMessageW(Item(id), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a));
  return a;
}

void KvxrPage::SetIp(int id, uint32_t address) {
  SendMessageW(Item(id), IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

RecordSettings SettingsOfRecord(disc::IDeviceInfo* record) {
  RecordSettings r;
  if (!record) return r;
  r.dhcp = record->IsDhcp();
  r.currentAddress = record->GetCurrentAddress();
  r.staticAddress = record->GetStaticAddress();
  r.netmask = record->GetNetmask();
  r.gateway = record->GetGateway();
  return r;
}

RecordSettings KvxrPage::FromRecord() const { return SettingsOfRecord(record_.get()); }

NetSettings KvxrPage::Fields() const {
  NetSettings f;
  f.dhcp = IsDlgButtonChecked(hwnd(), IDC_DHCP) == BST_CHECKED;
  f.address = GetIp(IDC_IP_ADDRESS);
  f.netmask = GetIp(IDC_NETMASK);
  f.gateway = GetIp(IDC_GATEWAY);
  return f;
}

void KvxrPage::LoadFields() {
  if (!record_) return;
  loading_ = true;
  SetItemText(IDC_SERIAL, W(record_->GetSerial()));
  uint8_t mac[6];
  record_->GetMac(mac);
  SetItemText(IDC_MAC, W(FormatMac(mac)));
  NetSettings f = FieldsFromRecord(FromRecord());
  CheckRadioButton(hwnd(), IDC_DHCP, IDC_STATIC_IP, f.dhcp ? IDC_DHCP : IDC_STATIC_IP);
  SetIp(IDC_IP_ADDRESS, f.address);
  SetIp(IDC_NETMASK, f.netmask);
  SetIp(IDC_GATEWAY, f.gateway);
  loading_ = false;
  UpdateControls();
}

void KvxrPage::UpdateControls() {
  if (!record_) return;
  NetSettings f = Fields();
  bool isStatic = !f.dhcp;
  EnableItem(IDC_IP_ADDRESS, isStatic);
  EnableItem(IDC_NETMASK, isStatic);
  EnableItem(IDC_GATEWAY, isStatic);
  bool changed = IsChanged(FromRecord(), f);
  EnableItem(IDC_REVERT, changed);
  EnableItem(IDC_APPLY, changed && IsValid(f));
  const disc::VersionPair& v = record_->GetVersion();
  bool link = ShowFirmwareLink(Version{v.major, v.minor}, LastAcceptedFirmware().version);
  ShowWindow(Item(IDC_FW_LINK), link ? SW_SHOWNA : SW_HIDE);
}

void KvxrPage::OnAddressEdited() {
  if (IsDlgButtonChecked(hwnd(), IDC_STATIC_IP) == BST_CHECKED) {
    uint32_t mask = 0, gateway = 0;
    if (SuggestFor(GetIp(IDC_IP_ADDRESS), mask, gateway)) {
      loading_ = true;
      SetIp(IDC_NETMASK, mask);
      SetIp(IDC_GATEWAY, gateway);
      loading_ = false;
    }
  }
  UpdateControls();
}

bool KvxrPage::OnCommand(int id, int code, HWND) {
  switch (id) {
    case IDC_DHCP:
    case IDC_STATIC_IP:
      if (code == BN_CLICKED) UpdateControls();
      return true;
    case IDC_IP_ADDRESS:
      if (code == EN_CHANGE && !loading_) OnAddressEdited();
      return true;
    case IDC_NETMASK:
    case IDC_GATEWAY:
      if (code == EN_CHANGE && !loading_) UpdateControls();
      return true;
    case IDC_REVERT:
      if (code == BN_CLICKED) LoadFields();
      return true;
    case IDC_APPLY:
      if (code == BN_CLICKED) Apply();
      return true;
    case IDC_IDENTIFY:
      if (code == BN_CLICKED) Identify();
      return true;
  }
  return false;
}

bool KvxrPage::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom == IDC_FW_LINK && (header->code == NM_CLICK || header->code == NM_RETURN)) {
    // Keep the record alive through the dialog: the list may drop its row.
    Ref<disc::IDeviceInfo> keep = record_;
    if (keep) {
      // Updated but not seen again: the row would show a device that is gone.
      if (RunFirmwareUpdate(hwnd(), keep.get()) == kFwUpdatedNotSeen) RemoveFromList(keep.get());
      else UpdateControls();
    }
    result = 0;
    return true;
  }
  return false;
}

void KvxrPage::RemoveFromList(disc::IDeviceInfo* record) {
  SendMessageW(GetParent(hwnd()), Msg().removeDevice, 0, reinterpret_cast<LPARAM>(record));
}

void KvxrPage::Identify() {
  if (!record_) return;
  uint8_t id[16];
  record_->GetHardwareId(id);
  bool authenticated = disc::ChooseWink(record_->GetVersion()) == disc::WinkKind::Authenticated;
  WinkRefusal refusal = CheckWink(record_->CanWink(), authenticated, id);
  if (refusal != WinkRefusal::None) {
    ShowMessage(hwnd(), Format(IDS_WINK_REFUSED, WinkRefusalText(refusal)), MB_OK | MB_ICONWARNING);
    return;
  }
  disc::SendWink(record_.get());
}

std::wstring KvxrPage::Format(int id, const std::string& phrase, int32_t status) const {
  wchar_t buf[1024];
  std::wstring p = FromAnsi(phrase);
  int n = swprintf(buf, 1024, LoadStr(id).c_str(), p.c_str(), static_cast<int>(status));
  return n > 0 ? std::wstring(buf, static_cast<size_t>(n)) : p;
}

void KvxrPage::FocusAddress(int id) {
  // After the message box: focus goes back to where it was, then here.
  SetFocus(Item(id));
  SendMessageW(Item(id), IPM_SETFOCUS, 0, 0);
}

bool KvxrPage::CheckAddresses(const NetSettings& f) {
  if (f.dhcp) return true;  // the fields are not sent
  StaticCheck c = CheckStaticSettings(f.address, f.netmask, f.gateway);
  if (c.problem != StaticProblem::None) {
    ShowMessage(hwnd(), Format(IDS_ADDRESS_REFUSED, StaticProblemText(c.problem, f.address, f.netmask, f.gateway)),
                MB_OK | MB_ICONWARNING);
    FocusAddress(c.problem == StaticProblem::Netmask ? IDC_NETMASK
                 : c.problem == StaticProblem::Address ? IDC_IP_ADDRESS
                                                       : IDC_GATEWAY);
    return false;
  }
  if (c.gatewayOutside) {
    int answer = ShowMessage(hwnd(), Format(IDS_GATEWAY_OUTSIDE, GatewayOutsideText(f.address, f.netmask, f.gateway)),
                             MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer != IDYES) {
      FocusAddress(IDC_GATEWAY);
      return false;
    }
  }
  return true;
}

void KvxrPage::Apply() {
  if (!record_) return;
  NetSettings f = Fields();
  const RecordSettings before = FromRecord();
  if (!IsChanged(before, f)) return;
  if (!CheckAddresses(f)) return;
  std::wstring text = W(ConfigText(f));
  // Every failure is told, and the fields stay as the user left them.
  int32_t device = 0;
  if (!FindLibraryDevice(record_.get(), device)) {
    ShowMessage(hwnd(), LoadStr(IDS_APPLY_NOT_LISTED), MB_OK | MB_ICONWARNING);
    return;
  }
  int32_t r = KVxR_SetNetworkCfg(device, text.c_str(), 3000);
  if (r != KVXR_OK) {
    std::wstring why;
    if (r == KVXR_SETCFG_REFUSED) {
      why = LoadStr(IDS_APPLY_REFUSED);
    } else if (r == KVXR_SETCFG_NO_ACK) {
      why = LoadStr(IDS_APPLY_NO_ANSWER);
    } else {
      why = Format(IDS_APPLY_FAILED, kvxr::StatusMeaning(kvxr::Call::SetNetworkCfg, r), r);
    }
    ShowMessage(hwnd(), why, MB_OK | MB_ICONERROR);
    return;
  }
  r = KVxR_RebootDevice(device);
  if (r != KVXR_OK) {
    // The settings wait in the device for its next restart; nothing will come
    // back to wait for.
    ShowMessage(hwnd(), Format(IDS_REBOOT_FAILED, kvxr::StatusMeaning(kvxr::Call::RebootDevice, r), r),
                MB_OK | MB_ICONWARNING);
    return;
  }
  // Keep the record alive through the wait: the list may drop its row.
  Ref<disc::IDeviceInfo> keep = record_;
  INT_PTR seen = RunProgress(hwnd(), LoadStr(IDS_CHANGING_NETWORK), keep.get(), 30000, ComebackCheck(before, f));
  if (seen == 2) RemoveFromList(keep.get());
}

}  // namespace qs::app
