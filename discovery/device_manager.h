// The program's discovery engine: scans, keeps one record per device, and
// tells every registered sink about each record created or refreshed. Runs on
// the user-interface thread only.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "discovery/collect.h"
#include "discovery/device_info.h"
#include "discovery/frame.h"
#include "discovery/library_api.h"
#include "platform/socket.h"
#include "runtime/rc.h"

namespace qs::disc {

struct IDiscoverySink : IRefCounted {
  virtual int32_t OnDevice(IDeviceInfo* device) = 0;  // result not used
};

struct IDevMgr : IRefCounted {
  virtual bool Advise(IDiscoverySink* sink, bool add) = 0;
  virtual void ClearDevices() = 0;
  virtual bool Scan() = 0;
};

// The library's device lines since the last scan began: one per device and
// interface it heard.
struct LibraryLineCounts {
  uint32_t lines = 0;
  uint32_t withVersion = 0;  // the device answered the version query
  uint32_t ignored = 0;      // did not parse or named no model of the table
};

class DeviceManager : public IDevMgr {
 public:
  explicit DeviceManager(const LibraryApi& library = LinkedLibrary(),
                         net::InterfaceQueryFn query = plat::QueryInterfaces);
  virtual ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  bool Advise(IDiscoverySink* sink, bool add) override;
  void ClearDevices() override;
  bool Scan() override;

  // Both sources end here: update the first matching record, or add one.
  void AddOrUpdate(DeviceReport&& report);
  // One device line from the library (its device key, the line as wide text).
  void OnLibraryLine(int32_t key, std::u16string_view line);

  const std::vector<Ref<IDeviceInfoX>>& devices() const { return devices_; }
  const ScanStats& lastScan() const { return lastScan_; }
  const LibraryLineCounts& libraryLines() const { return libraryLines_; }
  // What the library answered when the last scan started it (0: it runs).
  int32_t lastLibraryResult() const { return lastLibraryResult_; }
  void SetCollectLimits(const CollectLimits& l) { limits_ = l; }
  // Receive buffer asked for on the scan sockets; 0 keeps the system's default.
  void SetScanReceiveBuffer(int bytes) { receiveBuffer_ = bytes; }

 private:
  static ReplyKind OnDatagram(const uint8_t* data, size_t len, void* context);
  void Notify(IDeviceInfoX* record);
  void KeepKnownIdentity(const ModelRow* row, const uint8_t mac[6], bool serialKnown, bool idKnown,
                         DeviceDetails& details);

  std::vector<Ref<IDeviceInfoX>> devices_;
  std::vector<Ref<IDiscoverySink>> sinks_;
  std::vector<plat::UdpSocket> sockets_;
  uint8_t nonce_[kNonceSize] = {};
  const LibraryApi& library_;
  net::InterfaceQueryFn query_;
  CollectLimits limits_;
  int receiveBuffer_ = kScanSocketBuffer;
  ScanStats lastScan_;
  LibraryLineCounts libraryLines_;
  int32_t lastLibraryResult_ = KVXR_NO_WINDOW;  // no scan yet
};

// Process-wide options of the scan: the discovery mode handed to the library
// (on unless "-xp" was given) and an optional end-of-scan callback for the
// library's scan (the program passes none; the console front end waits on it).
void SetDiscoveryModeFlag(bool on);
bool DiscoveryModeFlag();
void SetLibraryDoneCallback(KVxR_DoneCallback onDone);

// The process's manager, with a new reference for the caller; created on
// first use, with one reference kept by the process.
IDevMgr* GetDeviceManager();
// The same object, for code inside the engine that needs more than IDevMgr.
DeviceManager* GetDeviceManagerImpl();
// Drops the process's reference (once, at exit).
void ReleaseDeviceManager();

}  // namespace qs::disc
