#include "app/fw_update_dlg.h"

#include <cwchar>
#include <string>

#include "app/dialog.h"
#include "app/logic/firmware_choice.h"
#include "app/logic/fw_update_steps.h"
#include "app/logic/update_outcome.h"
#include "app/pages.h"
#include "app/progress_dlg.h"
#include "app/resource.h"
#include "app/sink.h"
#include "app/win_text.h"
#include "app/window_util.h"
#include "library/KV-xR_update.h"
#include "library/status_text.h"

namespace qs::app {

namespace {

std::wstring VersionText(uint32_t major, uint32_t minor) {
  wchar_t buf[32];
  int n = swprintf(buf, 32, L"v%u.%03u", major, minor);
  return n > 0 ? std::wstring(buf, static_cast<size_t>(n)) : std::wstring();
}

class DlgFwUpdate;
// One update at a time: the library's callback finds its dialog here.
DlgFwUpdate* g_active = nullptr;

class DlgFwUpdate : public DialogBase {
 public:
  explicit DlgFwUpdate(disc::IDeviceInfo* record) : record_(record) {}
  ~DlgFwUpdate() override {
    Unadvise();
    if (g_active == this) g_active = nullptr;
  }

  void OnDeviceReported(disc::IDeviceInfo* device) {
    if (device != record_.get()) return;
    steps_.OnDeviceReported();
    Sync();
  }

  void OnLibraryEvent(int32_t device, int32_t event, int32_t value) {
    if (device != device_) return;
    steps_.OnEvent(event, value);
    Sync();
  }

 protected:
  bool OnInit() override {
    CenterOnOwner(hwnd());
    bar_.Subclass(Item(IDC_PROGRESS_BAR));
    bar_.SetFormat(L"", false);
    manager_ = Ref<disc::IDevMgr>::Adopt(disc::GetDeviceManager());
    sink_ = Ref<DiscoverSinkObject<DlgFwUpdate>>::Adopt(CreateObject<DiscoverSinkObject<DlgFwUpdate>>(this));
    if (manager_) manager_->Advise(sink_.get(), true);
    const disc::VersionPair& v = record_->GetVersion();
    SetItemText(IDC_FW_CURRENT, VersionText(v.major, v.minor));
    SetItemText(IDC_FW_LATEST, VersionText(LastAcceptedFirmware().version.major, LastAcceptedFirmware().version.minor));
    SetItemText(IDC_FW_RESULT, L"");
    Sync();
    return true;
  }

  bool OnCommand(int id, int code, HWND) override {
    if (code != BN_CLICKED) return false;
    if (id == IDOK) {
      if (steps_.view().updateEnabled) StartUpdate();
      return true;
    }
    if (id == IDCANCEL) {
      // Escape and the close box too; not while an update runs.
      if (steps_.view().closeEnabled) End(steps_.CloseResult());
      return true;
    }
    return false;
  }

  bool OnTimer(UINT_PTR id) override {
    if (id != kFwScanTimer && id != kFwTickTimer && id != kFwSeenTimer) return false;
    steps_.OnTimer(static_cast<int>(id));
    Sync();
    return true;
  }

  void OnDestroy() override {
    for (int t : {kFwScanTimer, kFwTickTimer, kFwSeenTimer}) KillTimer(hwnd(), static_cast<UINT_PTR>(t));
    if (g_active == this) g_active = nullptr;
    Unadvise();
  }

 private:
  static void OnUpdate(int32_t device, int32_t event, int32_t value) {
    if (g_active) g_active->OnLibraryEvent(device, event, value);
  }

  void StartUpdate() {
    int32_t device = 0;
    int32_t r = -100;
    if (FindLibraryDevice(record_.get(), device)) {
      KVxR_WCHAR version[200] = {};
      const FirmwareFile& file = LastAcceptedFirmware();
      std::wstring path = W(file.path);
      KVxR_SetFirmwareFile(path.c_str(), version, 200);
      device_ = device;
      g_active = this;
      r = KVxR_UpdateFirmware(device, OnUpdate);
    }
    if (r != 0) {
      if (g_active == this) g_active = nullptr;
      ShowMessage(hwnd(),
                  L"Failed to start firmware update.\n\n" +
                      FromAnsi(kvxr::StatusMeaning(kvxr::Call::UpdateFirmware, r)) + L" (" + std::to_wstring(r) + L")",
                  MB_OK | MB_ICONERROR);
      return;
    }
    SetItemText(IDC_FW_RESULT, L"");
    steps_.Started();
    Sync();
  }

  // Copies the steps' view into the window; runs the scans they asked for.
  void Sync() {
    const FwUpdateView& v = steps_.view();
    bar_.SetBounds(v.lower, v.upper);
    const wchar_t* format = v.text == FwBarText::Percent  ? L"%u%%"
                            : v.text == FwBarText::Failed ? L"Failed to update firmware"
                                                          : L"";
    if (format != format_) {
      format_ = format;
      bar_.SetFormat(format, false);
    }
    bar_.SetPos(v.position);
    EnableItem(IDOK, v.updateEnabled);
    EnableItem(IDCANCEL, v.closeEnabled);
    for (int t : {kFwScanTimer, kFwTickTimer, kFwSeenTimer}) {
      if (v.timer[t] == running_[t]) continue;
      running_[t] = v.timer[t];
      UINT ms = t == kFwScanTimer ? kFwScanMs : t == kFwTickTimer ? kFwTickMs : kFwSeenMs;
      if (v.timer[t]) SetTimer(hwnd(), static_cast<UINT_PTR>(t), ms, nullptr);
      else KillTimer(hwnd(), static_cast<UINT_PTR>(t));
    }
    if (steps_.finished() && !steps_.succeeded() && steps_.step() == FwUpdateSteps::kIdle && !told_) {
      // The bar says that it failed; this line says why.
      told_ = true;
      std::wstring why = steps_.status() != 0 ? FromAnsi(kvxr::StatusMeaning(kvxr::Call::UpdateResult, steps_.status())) + L" (" +
                                                    std::to_wstring(steps_.status()) + L")."
                                              : std::wstring(L"The library reported a failure.");
      why[0] = static_cast<wchar_t>(towupper(why[0]));
      SetItemText(IDC_FW_RESULT, why);
    }
    if (steps_.step() == FwUpdateSteps::kWaiting && !told_) {
      told_ = true;
      SetItemText(IDC_FW_RESULT, steps_.status() == 0
                                     ? L"The device already had this firmware; nothing was written. Waiting for "
                                       L"the device to start again..."
                                     : L"The firmware was written and verified. Waiting for the device to start "
                                       L"again...");
    }
    if (steps_.step() == FwUpdateSteps::kUpdating) told_ = false;
    if (steps_.TakeScans() > 0 && manager_) manager_->Scan();
    if (steps_.endResult() != kFwNotEnded) End(steps_.endResult());
  }

  void Unadvise() { ReleaseSink(manager_, sink_); }

  Ref<disc::IDeviceInfo> record_;
  int32_t device_ = 0;
  FwUpdateSteps steps_;
  bool running_[5] = {};
  bool told_ = false;
  const wchar_t* format_ = nullptr;
  ProgressCtrl2 bar_;
  Ref<disc::IDevMgr> manager_;
  Ref<DiscoverSinkObject<DlgFwUpdate>> sink_;
};

}  // namespace

INT_PTR RunFirmwareUpdate(HWND owner, disc::IDeviceInfo* record) {
  if (!record) return kFwNotUpdated;
  DlgFwUpdate dlg(record);
  return dlg.RunModal(IDD_FW_UPDATE, owner);
}

}  // namespace qs::app
