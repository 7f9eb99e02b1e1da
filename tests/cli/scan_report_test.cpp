// What discover says about a scan: built from the scan's own counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/support_scan_report.h"
#include "library/KV-xR_update.h"

namespace qs::cli {
namespace {

disc::InterfaceScan Iface(uint32_t flags, uint32_t address, uint32_t netmask) {
  disc::InterfaceScan i;
  i.seen.flags = flags;
  i.seen.address = address;
  i.seen.netmask = netmask;
  i.qualifies = (flags & (plat::kIfUp | plat::kIfLoopback)) == plat::kIfUp;
  return i;
}

disc::InterfaceScan Probed(uint32_t address) {
  disc::InterfaceScan i = Iface(plat::kIfUp | plat::kIfBroadcast, address, 0xFFFFF000u);
  i.socket = true;
  i.textProbes = 1;
  i.discoverRequests = 1;
  return i;
}

TEST(ScanReport, NothingSentListsWhatTheSystemShowed) {
  disc::ScanStats s;
  s.seen.push_back(Iface(plat::kIfUp | plat::kIfLoopback, 0x7F000001u, 0xFF000000u));
  s.seen.push_back(Iface(plat::kIfBroadcast, 0x0A490001u, 0xFFFFF000u));
  EXPECT_EQ(NothingSentLines(s),
            (std::vector<std::string>{"no usable network interface (IPv4, up, not loopback): nothing was sent",
                                      "interfaces seen: 127.0.0.1/255.0.0.0 (up, loopback), "
                                      "10.73.0.1/255.255.240.0 (down)"}));
  s.seen.clear();
  EXPECT_EQ(NothingSentLines(s).back(), "the system lists no interface with an IPv4 address");
  s.interfaceQueryFailed = true;
  EXPECT_EQ(NothingSentLines(s).back(), "the system's list of network interfaces could not be read");
  // usable, but its socket could not be set up
  s = disc::ScanStats();
  s.seen.push_back(Iface(plat::kIfUp, 0x0A470001u, 0xFFFFF000u));
  EXPECT_EQ(NothingSentLines(s),
            (std::vector<std::string>{"no socket could be set up on 10.71.0.1/255.255.240.0: nothing was sent"}));
}

TEST(ScanReport, NoReplySaysWhereTheProbesWentAndWhatToCheck) {
  disc::ScanStats s;
  s.seen.push_back(Iface(plat::kIfUp | plat::kIfLoopback, 0x7F000001u, 0xFF000000u));
  s.seen.push_back(Probed(0x0A470001u));
  s.seen.push_back(Probed(0x0A480001u));
  s.seen.back().sendFailures = 2;
  s.interfaces = 2;
  const std::vector<std::string> lines = NoReplyLines(s);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "probes went out on 10.71.0.1/255.255.240.0, 10.72.0.1/255.255.240.0 (2 of 2 sends failed); "
            "no reply came back");
  EXPECT_NE(lines[1].find("cabling"), std::string::npos);
  EXPECT_NE(lines[1].find("another subnet"), std::string::npos);
  EXPECT_NE(lines[1].find("firewall"), std::string::npos);
}

TEST(ScanReport, VerboseCountsEachInterfaceAndTheLibrary) {
  disc::FullScanResult r;
  r.libraryStatus = KVXR_OK;
  r.libraryLines.lines = 3;
  r.libraryLines.withVersion = 2;
  r.datagrams.seen.push_back(Iface(plat::kIfUp | plat::kIfLoopback, 0x7F000001u, 0xFF000000u));
  r.datagrams.seen.push_back(Probed(0x0A470001u));
  disc::ReplyCounts& c = r.datagrams.seen.back().replies;
  c.firstFamily = 1;
  c.kvxr = 2;
  c.unlisted = 3;
  c.invalid = 4;
  c.errors = 1;
  r.datagrams.seen.push_back(Iface(plat::kIfUp, 0x0A480001u, 0xFFFFF000u));  // no socket
  r.datagrams.seen.push_back(Iface(0, 0x0A490001u, 0xFFFFF000u));
  EXPECT_EQ(VerboseLines(r),
            (std::vector<std::string>{
                "scan: the system lists 4 IPv4 interfaces",
                "  127.0.0.1/255.0.0.0 (up, loopback): not used",
                "  10.71.0.1/255.255.240.0 (up): sent 1 \"Scan\" probe to 10.71.15.255 port 9010, 1 discover request "
                "to 255.255.255.255 port 59300",
                "    replies: 1 first-family, 2 KV-xR, 3 unlisted model, 4 stray or invalid, 1 receive error",
                "  10.72.0.1/255.255.240.0 (up): no socket could be set up, nothing sent",
                "  10.73.0.1/255.255.240.0 (down): not used",
                "KV-xR library scan (discover requests to port 9010 on every interface, then \"?Version\" to each "
                "device): 3 device reports (one per device and interface), 2 with a version reply, 0 not understood"}));
  r.libraryStatus = KVXR_NO_WINDOW;
  EXPECT_EQ(VerboseLines(r).back(), "KV-xR library scan: did not run");
}

}  // namespace
}  // namespace qs::cli
