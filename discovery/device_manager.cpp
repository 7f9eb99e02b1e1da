#include "discovery/device_manager.h"

#include <algorithm>
#include <cstring>

#include "discovery/replies.h"
#include "library/device_line.h"
#include "platform/text.h"
#include "runtime/bytes.h"

namespace qs::disc {

namespace {

bool g_discoveryMode = true;
KVxR_DoneCallback g_libraryDone = nullptr;
// The manager that receives the library's device lines; the library's
// callback carries no context.
DeviceManager* g_reportTarget = nullptr;
RCObject2<DeviceManager>* g_manager = nullptr;

void LibraryReport(int32_t key, const KVxR_WCHAR* line) {
  if (!g_reportTarget || !line) return;
  std::u16string wide;
  for (const KVxR_WCHAR* p = line; *p; ++p) wide.push_back(static_cast<char16_t>(*p));
  g_reportTarget->OnLibraryLine(key, wide);
}

}  // namespace

void SetDiscoveryModeFlag(bool on) { g_discoveryMode = on; }
bool DiscoveryModeFlag() { return g_discoveryMode; }
void SetLibraryDoneCallback(KVxR_DoneCallback onDone) { g_libraryDone = onDone; }

DeviceManager::DeviceManager(const LibraryApi& library, net::InterfaceQueryFn query)
    : library_(library), query_(query) {}

DeviceManager::~DeviceManager() {
  if (g_reportTarget == this) g_reportTarget = nullptr;
  devices_.clear();
  sinks_.clear();
  sockets_.clear();
}

bool DeviceManager::Advise(IDiscoverySink* sink, bool add) {
  if (!sink) return false;
  auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Ref<IDiscoverySink>& s) { return s.get() == sink; });
  if (add) {
    if (it != sinks_.end()) return false;
    sinks_.emplace_back(sink);
    return true;
  }
  if (it == sinks_.end()) return false;
  sinks_.erase(it);
  return true;
}

void DeviceManager::ClearDevices() { devices_.clear(); }

bool DeviceManager::Scan() {
  library_.setDiscoveryMode(g_discoveryMode ? 1 : 0);
  g_reportTarget = this;
  libraryLines_ = LibraryLineCounts();
  lastLibraryResult_ = library_.discoverDevices(1000, LibraryReport, g_libraryDone);

  sockets_.clear();
  if (!MakeNonce(nonce_)) std::memset(nonce_, 0, sizeof nonce_);
  std::vector<InterfaceScan> seen;
  bool queryFailed = false;
  SendScanProbes(nonce_, sockets_, query_, receiveBuffer_, &seen, &queryFailed);
  lastScan_ = CollectReplies(sockets_, &DeviceManager::OnDatagram, this, limits_);
  // The sockets are those of the interfaces that got one, in the same order.
  size_t next = 0;
  for (InterfaceScan& i : seen)
    if (i.socket && next < lastScan_.perSocket.size()) i.replies = lastScan_.perSocket[next++];
  lastScan_.seen = std::move(seen);
  lastScan_.interfaceQueryFailed = queryFailed;
  return true;
}

ReplyKind DeviceManager::OnDatagram(const uint8_t* data, size_t len, void* context) {
  auto* self = static_cast<DeviceManager*>(context);
  Sighting s;
  ReplyKind kind = ReplyKind::Invalid;
  if (ClassifyDatagram(self->nonce_, data, len, &s, &kind) != Verdict::Report) return kind;
  DeviceReport r;
  r.row = s.row;
  r.address = s.address;
  std::memcpy(r.mac, s.mac, 6);
  self->AddOrUpdate(std::move(r));
  return kind;
}

void DeviceManager::OnLibraryLine(int32_t key, std::u16string_view line) {
  ++libraryLines_.lines;
  kvxr::DeviceLine d;
  const ModelRow* row = nullptr;
  if (kvxr::ParseDeviceLine(plat::WideToAnsi(line), &d)) row = FindModelByName(d.model);
  if (!row) {
    ++libraryLines_.ignored;
    return;
  }
  if (d.major != 0 || d.minor != 0) ++libraryLines_.withVersion;

  KVxR_WCHAR serial[200] = {};
  const bool serialKnown = library_.getSerial(key, serial, 200) == KVXR_OK;
  serial[199] = 0;  // whatever the library did, the text ends in the buffer
  std::u16string wideSerial;
  for (size_t i = 0; i < 200 && serial[i]; ++i) wideSerial.push_back(static_cast<char16_t>(serial[i]));

  auto details = std::make_unique<DeviceDetails>();
  const bool idKnown = library_.getHardwareId(key, details->hardwareId) == KVXR_OK;
  bytes::PutBe32(details->currentAddress, d.address);
  std::memcpy(details->mac, d.mac, 6);
  details->dhcp = d.dhcp ? 1 : 0;
  bytes::PutBe32(details->staticAddress, d.staticAddress);
  bytes::PutBe32(details->netmask, d.netmask);
  bytes::PutBe32(details->gateway, d.gateway);
  details->SetSerial(plat::WideToAnsi(wideSerial));
  details->SetText("");
  details->SetModelName(row->displayName);
  // A line delivered after the next scan began carries a handle the library
  // no longer knows: what an earlier line told stays, rather than a blank.
  if (!serialKnown || !idKnown) KeepKnownIdentity(row, d.mac, serialKnown, idKnown, *details);

  DeviceReport r;
  r.row = row;
  r.address = d.address;
  r.version = VersionPair{d.major, d.minor};
  std::memcpy(r.mac, d.mac, 6);
  r.details = std::move(details);
  AddOrUpdate(std::move(r));
}

void DeviceManager::KeepKnownIdentity(const ModelRow* row, const uint8_t mac[6], bool serialKnown, bool idKnown,
                                      DeviceDetails& details) {
  for (const Ref<IDeviceInfoX>& d : devices_) {
    if (!d->Matches(row, mac)) continue;
    const DeviceDetails* known = DetailsOf(d.get());
    if (!known) return;
    if (!serialKnown) details.serial = known->serial;
    if (!idKnown) std::memcpy(details.hardwareId, known->hardwareId, sizeof details.hardwareId);
    return;
  }
}

void DeviceManager::AddOrUpdate(DeviceReport&& report) {
  if (!report.row) return;
  for (const Ref<IDeviceInfoX>& d : devices_) {
    if (!d->Matches(report.row, report.mac)) continue;
    Ref<IDeviceInfoX> keep = d;  // a sink may clear the list while being told
    keep->Update(report.row, report.mac, report.address, std::move(report.details), report.version);
    Notify(keep.get());
    return;
  }
  Ref<IDeviceInfoX> created = Ref<IDeviceInfoX>::Adopt(CreateDeviceInfo(std::move(report)));
  devices_.push_back(created);
  Notify(created.get());
}

void DeviceManager::Notify(IDeviceInfoX* record) {
  // A sink may register or remove sinks while being told.
  std::vector<Ref<IDiscoverySink>> sinks = sinks_;
  for (const Ref<IDiscoverySink>& s : sinks) s->OnDevice(record);
}

IDevMgr* GetDeviceManager() {
  DeviceManager* m = GetDeviceManagerImpl();
  m->AddRef();
  return m;
}

DeviceManager* GetDeviceManagerImpl() {
  if (!g_manager) g_manager = CreateObject<RCObject2<DeviceManager>>();
  return g_manager;
}

void ReleaseDeviceManager() {
  RCObject2<DeviceManager>* m = g_manager;
  g_manager = nullptr;
  if (m) m->Release();
}

}  // namespace qs::disc
