#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/device_manager.h"
#include "library/device_line.h"
#include "platform/text.h"

namespace qs::disc {
namespace {

// ---- a library that answers from a table ----
std::u16string g_serial = u"SN-0001";
uint8_t g_id[16] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
std::vector<int32_t> g_keysAsked;
int32_t g_modeSet = -1;

int32_t KVXR_CALL FakeMode(int32_t m) {
  g_modeSet = m;
  return KVXR_OK;
}
int32_t KVXR_CALL FakeScan(int32_t, KVxR_DeviceCallback, KVxR_DoneCallback) { return KVXR_OK; }
int32_t g_staleKey = -1;  // the library does not know it, as a handle of an earlier scan

int32_t KVXR_CALL FakeSerial(int32_t key, KVxR_WCHAR* out, uint32_t cap) {
  g_keysAsked.push_back(key);
  if (key == g_staleKey) return KVXR_UNKNOWN_DEVICE;
  if (cap < g_serial.size() + 1) return KVXR_NO_ROOM;
  for (size_t i = 0; i < g_serial.size(); ++i) out[i] = static_cast<KVxR_WCHAR>(g_serial[i]);
  out[g_serial.size()] = 0;
  return KVXR_OK;
}
int32_t KVXR_CALL FakeId(int32_t key, uint8_t* out) {
  if (key == g_staleKey) return KVXR_UNKNOWN_DEVICE;
  std::memcpy(out, g_id, 16);
  return KVXR_OK;
}
const LibraryApi kFakeLibrary = {FakeMode, FakeScan, FakeSerial, FakeId};

plat::IfQuery NoInterfaces(size_t, std::vector<plat::RawInterface>& out) {
  out.clear();
  return plat::IfQuery::Ok;
}

// Only interfaces the scan must not use: loopback, and one that is down.
plat::IfQuery LoopbackAndDown(size_t, std::vector<plat::RawInterface>& out) {
  out.clear();
  out.push_back({plat::kIfUp | plat::kIfLoopback, 0x7F000001u, 0, 0xFF000000u});
  out.push_back({plat::kIfBroadcast, 0x0A490001u, 0x0A490FFFu, 0xFFFFF000u});
  return plat::IfQuery::Ok;
}

plat::IfQuery QueryFails(size_t, std::vector<plat::RawInterface>& out) {
  out.clear();
  return plat::IfQuery::Failed;
}

class RecordingSink : public IDiscoverySink {
 public:
  virtual ~RecordingSink() = default;
  int32_t OnDevice(IDeviceInfo* d) override {
    seen.push_back(d);
    if (onCall) onCall(d);
    return 0;
  }
  std::vector<IDeviceInfo*> seen;
  void (*onCall)(IDeviceInfo*) = nullptr;
};

using Sink = RCObject2<RecordingSink>;
using Manager = RCObject2<DeviceManager>;

const ModelRow* Row(const char* code) {
  return FindModelByCode(reinterpret_cast<const uint8_t*>(code), std::strlen(code));
}

DeviceReport Report(const char* code, uint32_t address, uint8_t macLast) {
  DeviceReport r;
  r.row = Row(code);
  r.address = address;
  const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, macLast};
  std::memcpy(r.mac, mac, 6);
  return r;
}

struct Fixture : ::testing::Test {
  void SetUp() override {
    g_keysAsked.clear();
    g_serial = u"SN-0001";
    g_staleKey = -1;
    mgr = Ref<Manager>::Adopt(CreateObject<Manager>(kFakeLibrary, NoInterfaces));
    sink = Ref<Sink>::Adopt(CreateObject<Sink>());
    ASSERT_TRUE(mgr->Advise(sink.get(), true));
  }
  Ref<Manager> mgr;
  Ref<Sink> sink;
};

TEST_F(Fixture, SameDeviceTwiceGivesOneRecordAndTwoNotifications) {
  mgr->AddOrUpdate(Report("RMT235", 0x0A470014, 0x55));
  mgr->AddOrUpdate(Report("RMT235", 0x0A480014, 0x55));  // through the other interface
  ASSERT_EQ(mgr->devices().size(), 1u);
  ASSERT_EQ(sink->seen.size(), 2u);
  EXPECT_EQ(sink->seen[0], sink->seen[1]);
  EXPECT_EQ(mgr->devices()[0]->GetAddress(), 0x0A480014u);  // takes the latest address
}

TEST_F(Fixture, SameMacDifferentModelsGiveTwoRecords) {
  mgr->AddOrUpdate(Report("RMT235", 1, 0x55));
  mgr->AddOrUpdate(Report("A5411+", 1, 0x55));
  EXPECT_EQ(mgr->devices().size(), 2u);
  EXPECT_NE(sink->seen[0], sink->seen[1]);
}

TEST_F(Fixture, RowsSharingAModelNumberMatchEachOther) {
  // Both are model number 2: the record keeps its first row and name.
  DeviceReport a = Report("QMA271", 1, 0x01), b = Report("QMA11", 2, 0x01);
  mgr->AddOrUpdate(std::move(a));
  mgr->AddOrUpdate(std::move(b));
  ASSERT_EQ(mgr->devices().size(), 1u);
  EXPECT_EQ(mgr->devices()[0]->GetName(), u"QMA-2711");
  EXPECT_EQ(mgr->devices()[0]->GetAddress(), 2u);
}

TEST_F(Fixture, AdviseTwiceIsRefusedAndTheSinkIsCalledOncePerReport) {
  EXPECT_FALSE(mgr->Advise(sink.get(), true));
  mgr->AddOrUpdate(Report("KV1R", 1, 1));
  EXPECT_EQ(sink->seen.size(), 1u);
  EXPECT_TRUE(mgr->Advise(sink.get(), false));
  EXPECT_FALSE(mgr->Advise(sink.get(), false));
  mgr->AddOrUpdate(Report("KV1R", 1, 1));
  EXPECT_EQ(sink->seen.size(), 1u);
}

TEST_F(Fixture, SinksAreCalledInRegistrationOrderAndRemovalKeepsOrder) {
  static std::vector<int> order;
  order.clear();
  auto s2 = Ref<Sink>::Adopt(CreateObject<Sink>());
  auto s3 = Ref<Sink>::Adopt(CreateObject<Sink>());
  sink->onCall = [](IDeviceInfo*) { order.push_back(1); };
  s2->onCall = [](IDeviceInfo*) { order.push_back(2); };
  s3->onCall = [](IDeviceInfo*) { order.push_back(3); };
  mgr->Advise(s2.get(), true);
  mgr->Advise(s3.get(), true);
  mgr->AddOrUpdate(Report("KV1R", 1, 1));
  mgr->Advise(s2.get(), false);
  mgr->AddOrUpdate(Report("KV1R", 1, 1));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 1, 3}));
}

TEST_F(Fixture, ClearDevicesThenAKnownDeviceMakesANewRecord) {
  mgr->AddOrUpdate(Report("KV2R", 1, 7));
  Ref<IDeviceInfo> first = sink->seen[0];
  mgr->ClearDevices();
  EXPECT_TRUE(mgr->devices().empty());
  mgr->AddOrUpdate(Report("KV2R", 1, 7));
  ASSERT_EQ(sink->seen.size(), 2u);
  EXPECT_NE(sink->seen[1], first.get());
}

TEST_F(Fixture, ASinkThatClearsTheListWhileToldDoesNotLoseTheRecordUnderIt) {
  static Manager* m;
  m = mgr.get();
  sink->onCall = [](IDeviceInfo* d) {
    m->ClearDevices();
    EXPECT_EQ(d->GetModelId(), 13);  // still alive
  };
  mgr->AddOrUpdate(Report("KV2R", 1, 7));
  mgr->AddOrUpdate(Report("KV2R", 1, 7));
  EXPECT_TRUE(mgr->devices().empty());
}

std::u16string Line(const char* s) { return plat::AnsiToWide(s); }

TEST_F(Fixture, LibraryLineBecomesARecordWithDetails) {
  mgr->OnLibraryLine(42, Line("KV-2R|192.168.1.20|00:11:22:33:44:AA|1.12|static|192.168.1.21|255.255.255.0|192.168.1.1"));
  ASSERT_EQ(mgr->devices().size(), 1u);
  IDeviceInfoX* d = mgr->devices()[0].get();
  EXPECT_EQ(d->GetModelId(), 13);
  EXPECT_EQ(d->GetName(), u"KV-2R");
  EXPECT_EQ(d->GetAddress(), 0xC0A80114u);
  EXPECT_EQ(d->GetCurrentAddress(), 0xC0A80114u);
  EXPECT_EQ(d->GetStaticAddress(), 0xC0A80115u);
  EXPECT_EQ(d->GetNetmask(), 0xFFFFFF00u);
  EXPECT_EQ(d->GetGateway(), 0xC0A80101u);
  EXPECT_FALSE(d->IsDhcp());
  EXPECT_EQ(d->GetVersion().major, 1u);
  EXPECT_EQ(d->GetVersion().minor, 12u);
  EXPECT_EQ(d->GetSerial(), u"SN-0001");
  EXPECT_EQ(d->GetText(), u"");
  uint8_t id[16], mac[6];
  d->GetHardwareId(id);
  EXPECT_EQ(std::memcmp(id, g_id, 16), 0);
  d->GetMac(mac);
  EXPECT_EQ(mac[5], 0xAA);
  EXPECT_EQ(g_keysAsked, (std::vector<int32_t>{42}));
}

TEST_F(Fixture, ALineWithAStaleHandleKeepsTheKnownSerialAndIdentifier) {
  mgr->OnLibraryLine(7, Line("KV-3R|10.71.0.20|00:11:22:33:44:66|1.5|DHCP|10.71.0.20|255.255.240.0|10.71.0.254"));
  g_staleKey = 8;  // delivered after the next scan replaced the one that issued it
  mgr->OnLibraryLine(8, Line("KV-3R|10.71.0.77|00:11:22:33:44:66|1.5|static|10.71.0.77|255.255.240.0|10.71.0.254"));
  ASSERT_EQ(mgr->devices().size(), 1u);
  IDeviceInfoX* d = mgr->devices()[0].get();
  EXPECT_EQ(d->GetCurrentAddress(), 0x0A47004Du);  // the rest of the line is taken
  EXPECT_FALSE(d->IsDhcp());
  EXPECT_EQ(d->GetSerial(), u"SN-0001");
  uint8_t id[16];
  d->GetHardwareId(id);
  EXPECT_EQ(std::memcmp(id, g_id, 16), 0);
}

TEST_F(Fixture, AStaleHandleForANewDeviceLeavesItsIdentityBlank) {
  g_staleKey = 3;
  mgr->OnLibraryLine(3, Line("KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1"));
  ASSERT_EQ(mgr->devices().size(), 1u);
  EXPECT_EQ(mgr->devices()[0]->GetSerial(), u"");
  uint8_t id[16];
  mgr->devices()[0]->GetHardwareId(id);
  EXPECT_EQ(id[0], 0);
}

TEST_F(Fixture, LongSerialIsCutTo24Characters) {
  g_serial = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30
  mgr->OnLibraryLine(1, Line("KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1"));
  ASSERT_EQ(mgr->devices().size(), 1u);
  EXPECT_EQ(mgr->devices()[0]->GetSerial(), u"ABCDEFGHIJKLMNOPQRSTUVWX");
}

TEST_F(Fixture, RefreshWithoutDetailsLosesThemAndAddressesFallBack) {
  mgr->OnLibraryLine(1, Line("KV-1R|10.71.0.9|00:11:22:33:44:55|1.5|DHCP|10.71.0.50|255.255.240.0|10.71.0.254"));
  ASSERT_EQ(mgr->devices().size(), 1u);
  EXPECT_EQ(mgr->devices()[0]->GetStaticAddress(), 0x0A470032u);
  mgr->AddOrUpdate(Report("KV1R", 0x0A470009, 0x55));
  ASSERT_EQ(mgr->devices().size(), 1u);
  IDeviceInfoX* d = mgr->devices()[0].get();
  EXPECT_EQ(d->GetCurrentAddress(), 0x0A470009u);
  EXPECT_EQ(d->GetStaticAddress(), 0x0A470009u);
  EXPECT_EQ(d->GetSerial(), u"");
  EXPECT_FALSE(d->IsDhcp());
  EXPECT_EQ(d->GetNetmask(), 0u);
  EXPECT_EQ(d->GetVersion().minor, 0u);  // the datagram report has no version
  uint8_t id[16];
  d->GetHardwareId(id);
  EXPECT_EQ(id[0], 0);
}

// The manager's reading of a library line: the device line (Whole rule) and
// the first model row whose display name its model field begins with.
struct ReadLine {
  kvxr::DeviceLine line;
  const ModelRow* row = nullptr;
};
bool ParseDeviceLine(std::string_view text, ReadLine* out) {
  ReadLine r;
  if (!kvxr::ParseDeviceLine(text, &r.line)) return false;
  r.row = FindModelByName(r.line.model);
  if (!r.row) return false;
  if (out) *out = r;
  return true;
}

TEST(DeviceLine, ExampleLineWithAsteriskAndDhcp) {
  ReadLine d;
  ASSERT_TRUE(ParseDeviceLine("KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1", &d));
  EXPECT_STREQ(d.row->displayName, "KV-1R");
  EXPECT_EQ((VersionPair{d.line.major, d.line.minor}), (VersionPair{0, 0}));
  EXPECT_TRUE(d.line.dhcp);
  EXPECT_EQ(d.line.address, 0x0A000005u);
  EXPECT_EQ(d.line.gateway, 0x0A000001u);
}

TEST(DeviceLine, EachFieldRuleRejectsTheLine) {
  const char* bad[] = {
      "KV-1R|10.0.0.5|00:11:22:33:44:55|*|dhcp|10.0.0.5|255.255.255.0|10.0.0.1",    // case-sensitive
      "KV-1R|10.0.0.256|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",  // octet above 255
      "kv-1r|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
      "KV-1R|10.0.0|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
      "KV-1R|10.0.0.5|00:11:22:33:44|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
      "KV-1R|10.0.0.5|00;11;22;33;44;55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
      "KV-1R|10.0.0.5|00:11:22:33:44:55|1|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
      "KV-1R|10.0.0.5|00:11:22:33:44:55|1.x|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
      "KV-1R|10.0.0.5|00:11:22:33:44:55|99999999999.1|DHCP|10.0.0.5|255.255.255.0|10.0.0.1",
      "KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0",  // seven fields
      "KV-1R|10.0.0.5|00:11:22:33:44:55|*|DHCP|10.0.0.5|255.255.255.0|10.0.0.999",
      "",
  };
  for (const char* b : bad) EXPECT_FALSE(ParseDeviceLine(b, nullptr)) << b;
}

TEST(DeviceLine, AcceptedVariants) {
  ReadLine d;
  // Leading blanks before the model and the mode; "-" between MAC groups; mixed case hex.
  ASSERT_TRUE(ParseDeviceLine(" \tKV-3R|10.0.0.5|0a-1B-22-33-44-55|2.0| \tstatic|0.0.0.0|0.0.0.0|0.0.0.0", &d));
  EXPECT_EQ(d.row->modelNumber, 12);
  EXPECT_EQ(d.line.mac[0], 0x0A);
  EXPECT_EQ(d.line.mac[1], 0x1B);
  EXPECT_FALSE(d.line.dhcp);
  EXPECT_EQ((VersionPair{d.line.major, d.line.minor}), (VersionPair{2, 0}));
}

TEST_F(Fixture, BadLibraryLineIsIgnoredWithoutAskingTheLibrary) {
  mgr->OnLibraryLine(5, Line("KV-1R|10.0.0.5|00:11:22:33:44:55|*|Dhcp|10.0.0.5|255.255.255.0|10.0.0.1"));
  EXPECT_TRUE(mgr->devices().empty());
  EXPECT_TRUE(sink->seen.empty());
  EXPECT_TRUE(g_keysAsked.empty());
}

TEST_F(Fixture, ScanWithNoInterfaceReturnsAtOnceAndSetsTheMode) {
  SetDiscoveryModeFlag(false);
  EXPECT_TRUE(mgr->Scan());
  EXPECT_EQ(g_modeSet, 0);
  SetDiscoveryModeFlag(true);
  EXPECT_TRUE(mgr->Scan());
  EXPECT_EQ(g_modeSet, 1);
  EXPECT_EQ(mgr->lastScan().interfaces, 0u);
  EXPECT_LT(mgr->lastScan().elapsedMs, 100u);
}

// What the scan saw is kept for the user, whether or not it could be used.
TEST_F(Fixture, ScanKeepsEveryInterfaceItSawAndWhatItSentThere) {
  Ref<Manager> m = Ref<Manager>::Adopt(CreateObject<Manager>(kFakeLibrary, LoopbackAndDown));
  ASSERT_TRUE(m->Scan());
  const ScanStats& st = m->lastScan();
  EXPECT_FALSE(st.interfaceQueryFailed);
  ASSERT_EQ(st.seen.size(), 2u);
  EXPECT_EQ(st.seen[0].seen.address, 0x7F000001u);
  EXPECT_EQ(st.seen[1].seen.address, 0x0A490001u);
  for (const InterfaceScan& i : st.seen) {
    EXPECT_FALSE(i.qualifies);
    EXPECT_FALSE(i.socket);
    EXPECT_EQ(i.textProbes + i.discoverRequests, 0u);
  }
  EXPECT_EQ(st.interfaces, 0u);

  m = Ref<Manager>::Adopt(CreateObject<Manager>(kFakeLibrary, QueryFails));
  ASSERT_TRUE(m->Scan());
  EXPECT_TRUE(m->lastScan().interfaceQueryFailed);
  EXPECT_TRUE(m->lastScan().seen.empty());
}

// The library's lines are counted from each scan's start: understood ones,
// those with a version, and those ignored.
TEST_F(Fixture, LibraryLinesAreCountedPerScan) {
  mgr->Scan();
  mgr->OnLibraryLine(1, Line("KV-1R|10.0.0.5|00:11:22:33:44:55|1.12|DHCP|10.0.0.5|255.255.255.0|10.0.0.1"));
  mgr->OnLibraryLine(2, Line("KV-2R|10.0.0.6|00:11:22:33:44:56|*|static|10.0.0.6|255.255.255.0|10.0.0.1"));
  mgr->OnLibraryLine(3, Line("KV-1R|10.0.0.5|00:11:22:33:44:55|*|Dhcp|10.0.0.5|255.255.255.0|10.0.0.1"));
  EXPECT_EQ(mgr->libraryLines().lines, 3u);
  EXPECT_EQ(mgr->libraryLines().withVersion, 1u);
  EXPECT_EQ(mgr->libraryLines().ignored, 1u);
  mgr->Scan();
  EXPECT_EQ(mgr->libraryLines().lines, 0u);
}

}  // namespace
}  // namespace qs::disc
