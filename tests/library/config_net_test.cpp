// Changing simulated devices through the real library: network settings,
// operation mode and reboot, each status produced by the matching device
// fault, and a device moved from DHCP to static and back.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "library/KV-xR_update.h"
#include "library/device_line.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "runtime/bytes.h"
#include "tests/library/test_host.h"
#include "tests/support/sim_client.h"

namespace qs::test {
namespace {

plat::SocketsLibrary g_sockets;
std::map<std::string, std::pair<int32_t, kvxr::DeviceLine>> g_byMac;  // MAC -> handle, line
std::atomic<bool> g_done{false};

void OnDevice(int32_t h, const KVxR_WCHAR* line) {
  std::string s;
  for (; *line; ++line) s.push_back(static_cast<char>(*line));
  kvxr::DeviceLine d;
  if (kvxr::ParseDeviceLine(s, &d)) g_byMac[bytes::FormatMac(d.mac, '-')] = {h, d};
}
void OnDone() { g_done = true; }

std::vector<std::u16string> g_keep;
const KVxR_WCHAR* W(const char* s) {
  g_keep.emplace_back(s, s + std::char_traits<char>::length(s));
  return reinterpret_cast<const KVxR_WCHAR*>(g_keep.back().c_str());
}

void ScanOnce() {
  g_byMac.clear();
  g_done = false;
  ASSERT_EQ(KVxR_DiscoverDevices(1000, OnDevice, OnDone), KVXR_OK);
  Pump(9000, &g_done);
  ASSERT_TRUE(g_done.load());
  Pump(1200);
}

class Configure : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(OpenHost()); }
  void SetUp() override {
    ASSERT_TRUE(TestNet::Available());
    ASSERT_TRUE(sim_.Connect());
    ASSERT_TRUE(sim_.Reset());
  }
  int32_t Handle(const std::string& mac) {
    auto it = g_byMac.find(mac);
    return it == g_byMac.end() ? 0 : it->second.first;
  }
  SimClient sim_;
};

TEST_F(Configure, EachDeviceFaultGivesItsStatusWithinItsTime) {
  std::string good = sim_.AddDevice("model=KV1R segment=A opmode=2");
  std::string refuse = sim_.AddDevice("model=KV2R segment=A ack=refuse");
  std::string silent = sim_.AddDevice("model=KV3R segment=B ack=none");
  std::string malformed = sim_.AddDevice("model=KV1R segment=B challenge=malformed");
  std::string nochallenge = sim_.AddDevice("model=KV2R segment=A challenge=none");
  std::string late = sim_.AddDevice("model=KV3R segment=B opmode=1");
  std::string leased = sim_.AddDevice("model=KV1R segment=A dhcp=1 static=10.71.0.90");
  // Each reply preceded by a datagram too long for the receive buffer.
  std::string bigAnnounce = sim_.AddDevice("model=KV2R segment=B oversize=announce");
  std::string bigAck = sim_.AddDevice("model=KV3R segment=A oversize=ack");
  std::string bigChallenge = sim_.AddDevice("model=KV1R segment=B oversize=challenge");
  std::string quietMode = sim_.AddDevice("model=KV2R segment=A opmode=4");
  ScanOnce();
  ASSERT_NE(Handle(quietMode), 0);
  // The scan itself reads on past such a datagram.
  for (const std::string* m : {&good, &refuse, &silent, &malformed, &nochallenge, &late, &leased, &bigAnnounce,
                               &bigAck, &bigChallenge})
    ASSERT_NE(Handle(*m), 0) << *m;

  // The text is checked before anything is sent.
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(good), W("dhcp|*|*|*"), 3000), KVXR_BAD_KEYWORD);
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(good), W("static*|*|*"), 3000), KVXR_NO_SEPARATOR);
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(good), W("static|10.71.0.300|*|*"), 3000), KVXR_BAD_ADDRESS);
  EXPECT_EQ(KVxR_SetNetworkCfg(999999, W("DHCP|*|*|*"), 3000), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_RebootDevice(999999), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_WriteOperationMode(999999, 1), KVXR_UNKNOWN_DEVICE);
  EXPECT_TRUE(sim_.LogOfKind("setcfg").empty());

  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(refuse), W("static|*|*|*"), 3000), KVXR_SETCFG_REFUSED);

  // A datagram beyond the receive buffer before the reply is no reply and no
  // socket error: it is skipped and the wait goes on. (The socket's own
  // receive errors: jobs_net_test.cpp.) The oversized datagram answers every
  // rediscovery on its segment, so it is off while the others there are asked.
  ASSERT_TRUE(sim_.Set(bigAnnounce, "oversize=-"));
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(bigAck), W("DHCP|*|*|*"), 3000), KVXR_OK);
  EXPECT_EQ(sim_.Show(bigAck)["pending_dhcp"], "1");
  EXPECT_EQ(KVxR_RebootDevice(Handle(bigChallenge)), KVXR_OK);
  EXPECT_EQ(sim_.Show(bigChallenge)["last_response"], "ok");

  // A device that sends no operation-mode report when asked again keeps the
  // mode of the scan: changing its address does not reset it.
  ASSERT_TRUE(sim_.Set(quietMode, "opmode_items=none"));
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(quietMode), W("static|*|*|*"), 3000), KVXR_OK);
  EXPECT_EQ(sim_.Show(quietMode)["opmode"], "4");

  // DHCP: the device's current address goes as the static one, not the given one.
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(leased), W("DHCP|10.1.2.3|*|*"), 3000), KVXR_OK);
  EXPECT_EQ(sim_.Show(leased)["pending_static"], FormatAddress(g_byMac[leased].second.address));
  EXPECT_EQ(sim_.Show(leased)["pending_dhcp"], "1");

  uint32_t t0 = plat::TickCount();
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(silent), W("DHCP|*|*|*"), 1500), KVXR_SETCFG_NO_ACK);
  uint32_t spent = plat::TicksSince(t0);
  EXPECT_GE(spent, 1400u);
  EXPECT_LT(spent, 2500u);

  t0 = plat::TickCount();
  EXPECT_EQ(KVxR_RebootDevice(Handle(malformed)), KVXR_NO_CHALLENGE);  // skipped, the wait runs out
  spent = plat::TicksSince(t0);
  EXPECT_GE(spent, 2900u);
  EXPECT_LT(spent, 4000u);
  EXPECT_EQ(KVxR_RebootDevice(Handle(nochallenge)), KVXR_NO_CHALLENGE);

  // Operation mode: written at once; the scan's record keeps the old value.
  EXPECT_EQ(KVxR_WriteOperationMode(Handle(good), 0x105), KVXR_OK);
  EXPECT_EQ(sim_.Show(good)["opmode"], "5");
  uint8_t mode = 0;
  EXPECT_EQ(KVxR_ReadOperationMode(Handle(good), &mode), KVXR_OK);
  EXPECT_EQ(mode, 2);

  // A device that answers the rediscovery too late: no request.
  ASSERT_TRUE(sim_.Command("clearlog"));
  ASSERT_TRUE(sim_.Set(late, "kv_delay=1500"));
  t0 = plat::TickCount();
  EXPECT_EQ(KVxR_WriteOperationMode(Handle(late), 3), KVXR_REDISCOVERY_TIMEOUT);
  EXPECT_LT(plat::TicksSince(t0), 1500u);
  EXPECT_TRUE(sim_.LogOfKind("setcfg").empty());
  EXPECT_EQ(sim_.Show(late)["opmode"], "1");

  ASSERT_TRUE(sim_.Set(bigAnnounce, "oversize=announce"));
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(bigAnnounce), W("DHCP|*|*|*"), 3000), KVXR_OK);
  EXPECT_EQ(sim_.Show(bigAnnounce)["pending_dhcp"], "1");

  // Every request went to the limited broadcast.
  for (auto& l : sim_.LogOfKind("setcfg")) EXPECT_EQ(l["dst"], "255.255.255.255");
  for (auto& l : sim_.LogOfKind("reboot")) EXPECT_EQ(l["dst"], "255.255.255.255");
}

// (defined below)
bool FoundAt(const std::string& mac, const std::string& address, kvxr::DeviceLine* line);

// A device whose operation-mode report follows its announce (and one whose
// report comes first) keeps its mode through every change that does not name
// one: set-config, and the program's Apply (set-config, then reboot); a
// written mode is the one written, in either order.
TEST_F(Configure, OperationModeSurvivesAddressChangesWhicheverReportComesFirst) {
  std::string after = sim_.AddDevice("model=KV2R segment=A opmode=9 opmode_order=after reboot_ms=600");
  std::string before = sim_.AddDevice("model=KV3R segment=B opmode=7 opmode_order=before reboot_ms=600");
  ASSERT_FALSE(after.empty());
  ASSERT_FALSE(before.empty());
  ScanOnce();
  ASSERT_NE(Handle(after), 0);
  ASSERT_NE(Handle(before), 0);
  // The scan itself only knows a mode reported before the announce.
  uint8_t mode = 0xEE;
  EXPECT_EQ(KVxR_ReadOperationMode(Handle(after), &mode), KVXR_OK);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(KVxR_ReadOperationMode(Handle(before), &mode), KVXR_OK);
  EXPECT_EQ(mode, 7);

  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(after), W("static|*|*|*"), 3000), KVXR_OK);
  EXPECT_EQ(sim_.Show(after)["opmode"], "9");
  EXPECT_EQ(KVxR_SetNetworkCfg(Handle(before), W("static|*|*|*"), 3000), KVXR_OK);
  EXPECT_EQ(sim_.Show(before)["opmode"], "7");

  // The program's Apply: new settings, then the reboot that makes them count.
  ASSERT_EQ(KVxR_SetNetworkCfg(Handle(after), W("static|10.71.0.88|255.255.240.0|10.71.0.254"), 3000), KVXR_OK);
  ASSERT_EQ(KVxR_RebootDevice(Handle(after)), KVXR_OK);
  ASSERT_EQ(KVxR_SetNetworkCfg(Handle(before), W("static|10.72.0.88|255.255.240.0|10.72.0.254"), 3000), KVXR_OK);
  ASSERT_EQ(KVxR_RebootDevice(Handle(before)), KVXR_OK);
  kvxr::DeviceLine line;
  ASSERT_TRUE(FoundAt(after, "10.71.0.88", &line));
  ASSERT_TRUE(FoundAt(before, "10.72.0.88", &line));
  EXPECT_EQ(sim_.Show(after)["opmode"], "9");
  EXPECT_EQ(sim_.Show(before)["opmode"], "7");

  // Written modes, in both orders, within the fixed 1000 ms.
  EXPECT_EQ(KVxR_WriteOperationMode(Handle(after), 3), KVXR_OK);
  EXPECT_EQ(sim_.Show(after)["opmode"], "3");
  EXPECT_EQ(KVxR_WriteOperationMode(Handle(before), 4), KVXR_OK);
  EXPECT_EQ(sim_.Show(before)["opmode"], "4");
}

// Scans until the device is reported at the address (or gives up after 30 s).
bool FoundAt(const std::string& mac, const std::string& address, kvxr::DeviceLine* line) {
  uint32_t t0 = plat::TickCount();
  while (plat::TicksSince(t0) < 30000) {
    ScanOnce();
    auto it = g_byMac.find(mac);
    if (it != g_byMac.end() && (address.empty() || FormatAddress(it->second.second.address) == address)) {
      *line = it->second.second;
      return true;
    }
  }
  return false;
}

TEST_F(Configure, DeviceMovesFromDhcpToStaticAndBack) {
  std::string mac = sim_.AddDevice("model=KV2R segment=A dhcp=1 reboot_ms=800");
  ASSERT_FALSE(mac.empty());
  ScanOnce();
  ASSERT_NE(Handle(mac), 0);
  std::string leased = FormatAddress(g_byMac[mac].second.address);
  EXPECT_TRUE(g_byMac[mac].second.dhcp);

  ASSERT_EQ(KVxR_SetNetworkCfg(Handle(mac), W("static|10.71.0.77|255.255.240.0|10.71.0.254"), 3000), KVXR_OK);
  ASSERT_EQ(KVxR_RebootDevice(Handle(mac)), KVXR_OK);
  kvxr::DeviceLine line;
  ASSERT_TRUE(FoundAt(mac, "10.71.0.77", &line));
  EXPECT_FALSE(line.dhcp);
  EXPECT_EQ(FormatAddress(line.staticAddress), "10.71.0.77");
  EXPECT_EQ(FormatAddress(line.gateway), "10.71.0.254");

  ASSERT_EQ(KVxR_SetNetworkCfg(Handle(mac), W("DHCP|*|*|*"), 3000), KVXR_OK);
  ASSERT_EQ(KVxR_RebootDevice(Handle(mac)), KVXR_OK);
  uint32_t t0 = plat::TickCount();
  bool back = false;
  while (!back && plat::TicksSince(t0) < 30000) {
    ScanOnce();
    auto it = g_byMac.find(mac);
    back = it != g_byMac.end() && it->second.second.dhcp;
    if (back) line = it->second.second;
  }
  ASSERT_TRUE(back);
  EXPECT_NE(FormatAddress(line.address), "10.71.0.77");
}

}  // namespace
}  // namespace qs::test
