// The ARP listing: both textual forms parsed from text and from files, the
// address for a MAC over a given table, and the free-address draw with played
// and with the system's random numbers. Under Windows also the real listing
// path: the hidden command, its redirection into a temporary file, cleanup.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "net/arp_table.h"
#include "net/arp_text.h"
#include "net/free_address.h"
#include "platform/arp_cache.h"
#include "platform/file.h"

#ifdef _WIN32
#include "platform/hidden_command.h"
#endif

namespace qs::net {
namespace {

using Mac = std::vector<uint8_t>;

Mac MacOf(const ArpEntry& e) { return Mac(e.mac, e.mac + 6); }

TEST(ArpText, ALineOfTheCommandGivesAddressAndMac) {
  ArpEntry e;
  ASSERT_TRUE(ParseArpCommandLine("  192.168.1.20          00-11-22-33-44-55     dynamic", e));
  EXPECT_EQ(e.address, 0xC0A80114u);
  EXPECT_EQ(MacOf(e), (Mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
  ASSERT_TRUE(ParseArpCommandLine("\t10.0.0.1\tab-CD-ef-01-23-45", e));  // tabs, either case, line end
  EXPECT_EQ(MacOf(e), (Mac{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}));
  ASSERT_TRUE(ParseArpCommandLine("10.0.0.2 02-00-00-00-00-01;static", e));  // punctuation ends the MAC
  EXPECT_EQ(e.address, 0x0A000002u);
}

TEST(ArpText, LinesThatAreNotEntriesAreIgnored) {
  const char* lines[] = {
      "",
      "Interface: 192.168.1.5 --- 0xb",
      "  Internet Address      Physical Address      Type",
      "  192.168.1.20          00:11:22:33:44:55     dynamic",  // ":" separators
      "  192.168.1.20          00-11-22-33-44",                 // five groups
      "  192.168.1.20          0-11-22-33-44-55",               // one digit
      "  192.168.1.20          000-11-22-33-44-55",             // three digits
      "  192.168.1.20          00-11-22-33-44-55x",             // a letter after the MAC
      "  192.168.1.20          00-11-22-33-44-5G",
      "  192.168.1.20a         00-11-22-33-44-55",              // a letter after the address
      "  192.168.1             00-11-22-33-44-55",
      "  192.168.1.256         00-11-22-33-44-55",              // an octet above 255
      "  192.168..20           00-11-22-33-44-55",
      "  x 192.168.1.20        00-11-22-33-44-55",
      "                        00-11-22-33-44-55",
  };
  for (const char* l : lines) {
    ArpEntry e;
    EXPECT_FALSE(ParseArpCommandLine(l, e)) << l;
  }
}

const char kCommandOutput[] =
    "\r\n"
    "Interface: 10.71.0.1 --- 0x4\r\n"
    "  Internet Address      Physical Address      Type\r\n"
    "  10.71.0.254           02-aa-bb-cc-dd-01     dynamic   \r\n"
    "  10.71.15.255          ff-ff-ff-ff-ff-ff     static    \r\n"
    "  224.0.0.22            01-00-5e-00-00-16     static    \r\n"
    "\r\n"
    "Interface: 10.72.0.1 --- 0x5\r\n"
    "  Internet Address      Physical Address      Type\r\n"
    "  10.72.0.9             02-aa-bb-cc-dd-09     dynamic   \r\n"
    "  10.72.0.10            02-aa-bb-cc-dd-01     dynamic   \r\n";

TEST(ArpText, TheCommandsOutputReadFromAFile) {
  std::u16string path;
  ASSERT_TRUE(plat::MakeTempFile(u"qsarp", path));
  {
    plat::File f;
    ASSERT_TRUE(f.OpenWrite(path, false));
    ASSERT_TRUE(f.Write(kCommandOutput, sizeof kCommandOutput - 1));
  }
  std::vector<uint8_t> raw;
  ASSERT_EQ(plat::ReadWholeFile(path, 1 << 20, raw), plat::ReadResult::Ok);
  plat::DeleteFilePath(path);
  const std::vector<ArpEntry> t = ParseArpCommandOutput(std::string(raw.begin(), raw.end()));
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0].address, 0x0A4700FEu);
  EXPECT_EQ(t[1].address, 0x0A470FFFu);
  EXPECT_EQ(t[2].address, 0xE0000016u);
  EXPECT_EQ(t[3].address, 0x0A480009u);
  EXPECT_EQ(t[4].address, 0x0A48000Au);
  EXPECT_EQ(MacOf(t[4]), (Mac{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x01}));
}

TEST(ArpText, OverlongLinesAreSkippedWhole) {
  std::string text = "10.0.0.1 02-00-00-00-00-01\n";
  text += std::string(kArpMaxLine - 25, ' ') + "10.0.0.2 02-00-00-00-00-02\n";  // 8192 characters
  text += std::string(kArpMaxLine - 26, ' ') + "10.0.0.3 02-00-00-00-00-03\n";  // 8191: still read
  const std::vector<ArpEntry> t = ParseArpCommandOutput(text);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].address, 0x0A000001u);
  EXPECT_EQ(t[1].address, 0x0A000003u);
}

TEST(ArpText, TheKernelTableKeepsCompleteEthernetEntries) {
  const char table[] =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "10.71.0.254      0x1         0x2         02:aa:bb:cc:dd:01     *        qsa\n"
      "10.71.0.77       0x1         0x6         02:00:00:00:07:07     *        qsa\n"
      "10.71.0.99       0x1         0x0         00:00:00:00:00:00     *        qsa\n"
      "10.72.0.5        0x304       0x2         02:00:00:00:00:05     *        qsb\n"
      "10.72.0.6        0x1         0x2         02-00-00-00-00-06     *        qsb\n"
      "10.72.0.7        0x1         0x2         02:00:00:00:00:07:08  *        qsb\n"
      "10.72.0.300      0x1         0x2         02:00:00:00:00:08     *        qsb\n"
      "10.72.0.9        0x1         0x2\n";
  const std::vector<ArpEntry> t = ParseKernelArpTable(table);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].address, 0x0A4700FEu);
  EXPECT_EQ(MacOf(t[0]), (Mac{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x01}));
  EXPECT_EQ(t[1].address, 0x0A47004Du);  // a permanent entry (0x4 with 0x2)
}

// ---- address for a MAC and the free-address draw ----

struct Played {
  std::vector<uint32_t> values;
  size_t next = 0;
  int calls = 0;
};
uint32_t PlayedRandom(void* ctx) {
  auto* p = static_cast<Played*>(ctx);
  ++p->calls;
  if (p->values.empty()) return 0;
  return p->values[p->next++ % p->values.size()];
}

constexpr uint32_t kAdapter = 0x0A470001;  // 10.71.0.1/20
constexpr uint32_t kMask = 0xFFFFF000;

TEST(AddressForMac, TheCacheAnswersForAKnownMac) {
  const std::vector<ArpEntry> t = ParseArpCommandOutput(kCommandOutput);
  const uint8_t mac[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x01};
  Played none;
  uint32_t out = 0;
  // Present twice: the first line wins.
  EXPECT_EQ(AddressForMac(t, mac, kAdapter, kMask, PlayedRandom, &none, out), AddressSource::Cache);
  EXPECT_EQ(out, 0x0A4700FEu);
  EXPECT_EQ(none.calls, 0);
  // Seen from the other adapter, only the line inside its subnet counts.
  EXPECT_EQ(AddressForMac(t, mac, 0x0A480001, kMask, PlayedRandom, &none, out), AddressSource::Cache);
  EXPECT_EQ(out, 0x0A48000Au);
  // Known only on another subnet: an address is drawn in this one instead.
  const uint8_t other[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x09};
  Played r{{0x0000012C}};
  EXPECT_EQ(AddressForMac(t, other, kAdapter, kMask, PlayedRandom, &r, out), AddressSource::Drawn);
  EXPECT_EQ(out, 0x0A47012Cu);
}

TEST(FreeAddress, DrawsAvoidTakenAddressesTheHostEndsAndTheAdapter) {
  // The random numbers hit, in turn: all-zeros, all-ones, the adapter, a
  // taken address, and finally a free one. Bits outside the host part are dropped.
  Played r{{0x00000000, 0xFFFFFFFF, 0x12345001, 0x000000FE, 0xABCDE777}};
  uint32_t out = 0;
  ASSERT_TRUE(DrawFreeAddress(kAdapter, kMask, {0x0A4700FE, 0x0A480777}, PlayedRandom, &r, out));
  EXPECT_EQ(out, 0x0A470777u);
  EXPECT_EQ(r.calls, 5);
}

TEST(FreeAddress, AFullSubnetEndsTheDrawInsteadOfLoopingForEver) {
  // 10.71.0.0/29: hosts .1 to .6; the adapter is .1.
  const uint32_t mask = 0xFFFFFFF8;
  std::vector<uint32_t> taken = {0x0A470002, 0x0A470003, 0x0A470004, 0x0A470005};
  Played zero;  // the worst case: the same number every time
  uint32_t out = 0;
  ASSERT_TRUE(DrawFreeAddress(kAdapter, mask, taken, PlayedRandom, &zero, out));
  EXPECT_EQ(out, 0x0A470006u);  // found by the walk
  taken.push_back(0x0A470006);
  Played zero2;
  EXPECT_FALSE(DrawFreeAddress(kAdapter, mask, taken, PlayedRandom, &zero2, out));
  EXPECT_LE(zero2.calls, kRandomDraws + 1);
  // No host values at all.
  EXPECT_FALSE(DrawFreeAddress(kAdapter, 0xFFFFFFFE, {}, PlayedRandom, &zero2, out));
  EXPECT_FALSE(DrawFreeAddress(kAdapter, 0xFFFFFFFF, {}, PlayedRandom, &zero2, out));
  // A /30 has two: the adapter and one more.
  EXPECT_TRUE(DrawFreeAddress(0x0A470001, 0xFFFFFFFC, {}, PlayedRandom, &zero2, out));
  EXPECT_EQ(out, 0x0A470002u);
}

TEST(FreeAddress, AWalkOverABigFullyCachedRangeIsBoundedByTheCache) {
  // A /16 with its first 1000 host values taken and every random number
  // pointing at them: the walk passes the taken run and stops right after.
  std::vector<uint32_t> taken;
  for (uint32_t h = 1; h <= 1000; ++h) taken.push_back(0xAC100000 | h);
  Played r{{1}};
  uint32_t out = 0;
  ASSERT_TRUE(DrawFreeAddress(0xAC10FFFE, 0xFFFF0000, taken, PlayedRandom, &r, out));
  EXPECT_EQ(out, 0xAC1003E9u);  // host value 1001
}

TEST(FreeAddress, WithTheSystemsRandomNumbersTheAnswerVariesAndStaysInTheSubnet) {
  std::set<uint32_t> seen;
  for (int i = 0; i < 20; ++i) {
    uint32_t out = 0;
    ASSERT_TRUE(DrawFreeAddress(kAdapter, kMask, {}, SystemRandom, nullptr, out));
    EXPECT_EQ(out & kMask, kAdapter & kMask);
    EXPECT_NE(out & ~kMask, 0u);
    EXPECT_NE(out & ~kMask, ~kMask);
    EXPECT_NE(out, kAdapter);
    seen.insert(out);
  }
  EXPECT_GT(seen.size(), 10u);
}

#ifdef _WIN32

TEST(ArpListing, TheHiddenCommandReportsItsExitCode) {
  EXPECT_TRUE(plat::RunHiddenCommand(u"cmd.exe /C exit 0"));
  EXPECT_FALSE(plat::RunHiddenCommand(u"cmd.exe /C exit 3"));
  EXPECT_FALSE(plat::RunHiddenCommand(u"no-such-program-here.exe"));
}

TEST(ArpListing, OutputRedirectedIntoATemporaryFileIsParsed) {
  std::u16string path;
  ASSERT_TRUE(plat::MakeTempFile(u"tmp", path));
  ASSERT_TRUE(plat::RunHiddenCommand(u"cmd.exe /C echo   10.71.0.254   02-aa-bb-cc-dd-01   dynamic > \"" + path +
                                     u"\""));
  std::vector<uint8_t> raw;
  ASSERT_EQ(plat::ReadWholeFile(path, 1 << 20, raw), plat::ReadResult::Ok);
  plat::DeleteFilePath(path);
  const std::vector<ArpEntry> t = ParseArpCommandOutput(std::string(raw.begin(), raw.end()));
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].address, 0x0A4700FEu);
}

std::set<std::u16string> TemporaryFiles() {
  std::u16string probe;
  EXPECT_TRUE(plat::MakeTempFile(u"qsprobe", probe));
  plat::DeleteFilePath(probe);
  std::set<std::u16string> out;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(probe).parent_path())) {
    const std::u16string name = e.path().filename().u16string();
    if (name.size() > 3 && name.compare(0, 3, u"tmp") == 0) out.insert(name);
  }
  return out;
}

TEST(ArpListing, TheSystemListingRunsAndLeavesNoTemporaryFile) {
  const std::set<std::u16string> before = TemporaryFiles();
  std::string text;
  plat::ArpTextFormat format = plat::ArpTextFormat::KernelTable;
  plat::ReadArpCacheText(text, format);  // Wine's arp.exe may list nothing
  EXPECT_EQ(format, plat::ArpTextFormat::ArpCommand);
  // Whatever it printed parses without surprises.
  const std::vector<ArpEntry> t = ReadArpTable();
  for (const ArpEntry& e : t) EXPECT_NE(e.address, 0u);
  EXPECT_EQ(TemporaryFiles(), before);
}

#endif

}  // namespace
}  // namespace qs::net
