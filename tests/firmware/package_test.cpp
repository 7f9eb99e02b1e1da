// Loading a firmware file as the library does, the current firmware, and the
// export over the real shared library; also the files written by real tools.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "firmware/firmware_file_state.h"
#include "firmware/firmware_package.h"
#include "firmware/image_overlap.h"
#include "firmware/intellec_hex.h"
#include "library/KV-xR_update.h"
#include "tests/firmware/fw_test_util.h"

namespace qs::fw::test {
namespace {

const std::string kDataDir = QS_FW_DATA_DIR;

// An image with code below, the description in the window and code above.
std::string Firmware(const std::string& version, bool srecord = false) {
  std::string info = "fw.info{\"model\":\"KV-xR\",\"version\":\"" + version + "\"}";
  Bytes block(info.begin(), info.end());
  block.push_back(0);
  std::vector<ChunkCopy> pieces{{0x0, Pattern(0x3000, 1)}, {0x4010, block}, {0x5000, Pattern(0x800, 2)}};
  if (!srecord) return IntelText(pieces);
  std::vector<std::string> lines{SLine(0, 0, 2, Bytes{'f', 'w'})};
  for (const ChunkCopy& p : pieces)
    for (size_t i = 0; i < p.data.size(); i += 32)
      lines.push_back(SLine(3, p.start + static_cast<uint32_t>(i), 4,
                            Bytes(p.data.begin() + i, p.data.begin() + std::min(i + 32, p.data.size()))));
  lines.push_back(SLine(7, 0, 4, {}));
  return Lines(lines, "\n");
}

const KVxR_WCHAR* W(const std::u16string& s) { return reinterpret_cast<const KVxR_WCHAR*>(s.c_str()); }
std::u16string U(const KVxR_WCHAR* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

int32_t SetFile(const std::u16string& path, std::u16string* version = nullptr, uint32_t cap = 32) {
  KVxR_WCHAR buf[32];
  for (auto& c : buf) c = '#';
  int32_t st = KVxR_SetFirmwareFile(W(path), buf, cap);
  if (version) *version = st == 0 ? U(buf) : u"";
  if (st != 0) {
    EXPECT_EQ(buf[0], KVxR_WCHAR('#')) << "buffer written on failure";
  }
  return st;
}

TEST(FirmwarePackage, StatusOfEachKindOfFile) {
  TempFile good(Firmware("2.10")), goodS(Firmware("0.199", true));
  TempFile junk("hello\n"), empty("");
  TempFile noInfo(Lines({IntelData(0, Pattern(16, 1)), IntelEnd()}));
  LoadedFirmware f = LoadFirmwareFile(good.path());
  EXPECT_EQ(f.status, KVXR_OK);
  EXPECT_EQ(f.format, ImageFormat::IntelHex);
  EXPECT_EQ(f.info.major, 2u);
  EXPECT_EQ(f.info.minor, 10u);
  f = LoadFirmwareFile(goodS.path());
  EXPECT_EQ(f.status, KVXR_OK);
  EXPECT_EQ(f.format, ImageFormat::SRecord);
  EXPECT_EQ(f.info.minor, 199u);
  EXPECT_EQ(LoadFirmwareFile(junk.path()).status, KVXR_NOT_FIRMWARE_FILE);
  EXPECT_EQ(LoadFirmwareFile(empty.path()).status, KVXR_NOT_FIRMWARE_FILE);
  EXPECT_EQ(LoadFirmwareFile(noInfo.path()).status, KVXR_NO_FW_INFO);
  EXPECT_EQ(LoadFirmwareFile(u"/nonexistent/qs/firmware.hex").status, KVXR_FILE_NOT_FOUND);
  EXPECT_EQ(LoadFirmwareFile(u"").status, KVXR_FILE_NOT_FOUND);
  // A folder exists but is no file.
  EXPECT_EQ(LoadFirmwareFile(plat::Utf8ToWide(kDataDir)).status, KVXR_NOT_FIRMWARE_FILE);
}

// Two records naming one address with different bytes leave no defined
// content to write: refused. The same bytes twice are harmless.
TEST(FirmwarePackage, ConflictingOverlapIsRefused) {
  std::string base = Firmware("1.1");
  base.resize(base.size() - std::string(IntelEnd() + "\r\n").size());
  Bytes code = Pattern(0x3000, 1);
  TempFile same(base + Lines({IntelBase(4, 0), IntelData(0x100, Bytes(code.begin() + 0x100, code.begin() + 0x120)),
                              IntelEnd()}));
  Bytes other(code.begin() + 0x100, code.begin() + 0x120);
  other[5] ^= 1;
  TempFile diff(base + Lines({IntelBase(4, 0), IntelData(0x100, other), IntelEnd()}));
  LoadedFirmware f = LoadFirmwareFile(same.path());
  EXPECT_EQ(f.status, KVXR_OK);
  EXPECT_EQ(f.image->GetChunkCount(), 4);
  f = LoadFirmwareFile(diff.path());
  EXPECT_EQ(f.status, KVXR_NOT_FIRMWARE_FILE);
  EXPECT_TRUE(f.conflicting);
  EXPECT_EQ(f.conflictAt, 0x105u);
}

Ref<IBinaryImage> ImageOf(const std::vector<ChunkCopy>& pieces) {
  std::string text = IntelText(pieces);
  MemoryByteSource src(text.data(), text.size());
  return Ref<IBinaryImage>::Adopt(IntellecHex::LoadFrom(src, u"mem"));
}

// A long chunk under several short ones: a short chunk that disagrees with
// the long one is found even where it does not meet its own neighbour.
TEST(ImageOverlap, LongChunkUnderShortOnes) {
  Bytes longer = Pattern(0x400, 3);
  auto slice = [&](size_t from, size_t n) { return Bytes(longer.begin() + from, longer.begin() + from + n); };
  std::vector<ChunkCopy> pieces{{0x1000, longer}, {0x1100, slice(0x100, 8)}, {0x1200, slice(0x200, 16)},
                                {0x13F0, slice(0x3F0, 16)}};
  uint32_t at = 0;
  EXPECT_FALSE(HasConflictingOverlap(ImageOf(pieces).get(), &at));
  pieces[2].data[9] ^= 0x40;
  auto img = ImageOf(pieces);
  ASSERT_TRUE(img);
  ASSERT_EQ(img->GetChunkCount(), 4);
  EXPECT_TRUE(HasConflictingOverlap(img.get(), &at));
  EXPECT_EQ(at, 0x1209u);
}

// Random pieces cut from one memory, some with a byte changed: the check
// answers as a byte-by-byte comparison of every address does, and the address
// it names is one where two chunks disagree.
TEST(ImageOverlap, AgreesWithEveryAddressCompared) {
  Bytes memory = Pattern(0x300, 7);
  uint32_t x = 12345;
  auto rnd = [&](uint32_t n) {
    x = x * 1103515245u + 12345u;
    return (x >> 8) % n;
  };
  int conflicts = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<ChunkCopy> pieces;
    size_t count = 2 + rnd(6);
    for (size_t i = 0; i < count; ++i) {
      uint32_t from = rnd(0x2F0), n = 1 + rnd(std::min<uint32_t>(0x300 - from, 0x60));
      Bytes b(memory.begin() + from, memory.begin() + from + n);
      if (rnd(8) == 0) b[rnd(n)] ^= static_cast<uint8_t>(1 + rnd(255));
      pieces.push_back({0x8000 + from, b});
    }
    auto img = ImageOf(pieces);
    ASSERT_TRUE(img);
    std::map<uint32_t, std::set<uint8_t>> seen;
    for (const ChunkCopy& c : Chunks(img.get()))
      for (size_t i = 0; i < c.data.size(); ++i) seen[c.start + static_cast<uint32_t>(i)].insert(c.data[i]);
    bool want = false;
    for (const auto& [addr, values] : seen) want = want || values.size() > 1;
    uint32_t at = 0;
    bool got = HasConflictingOverlap(img.get(), &at);
    ASSERT_EQ(got, want) << "round " << round;
    if (got) {
      ++conflicts;
      EXPECT_GT(seen[at].size(), 1u) << "round " << round << " at 0x" << std::hex << at;
    }
  }
  EXPECT_GT(conflicts, 30);  // both answers were asked for
  EXPECT_LT(conflicts, 270);
}

TEST(FirmwarePackage, VersionText) {
  char16_t buf[16];
  FormatVersionText(1, 2, buf, 16);
  EXPECT_EQ(std::u16string(buf), u"1.002");
  FormatVersionText(2, 1234, buf, 16);
  EXPECT_EQ(std::u16string(buf), u"2.1234");
  FormatVersionText(1, 2, buf, 4);
  EXPECT_EQ(std::u16string(buf), u"1.0");
  FormatVersionText(1, 5, buf, 3);
  EXPECT_EQ(std::u16string(buf), u"1.");
  buf[0] = u'x';
  FormatVersionText(1, 5, buf, 1);
  EXPECT_EQ(buf[0], 0);
  FormatVersionText(4294967295u, 4294967295u, buf, 16);
  EXPECT_EQ(std::u16string(buf), u"4294967295.4294");
  EXPECT_EQ(VersionText(4294967295u, 4294967295u), "4294967295.4294967295");
  FormatVersionText(1, 5, nullptr, 8);  // nothing to write into
}

TEST(FirmwareState, FailureKeepsTheCurrentFirmware) {
  FirmwareFileState state;
  TempFile a(Firmware("1.5")), b(Firmware("3")), c(Firmware("2.7", true));
  uint32_t major = 0, minor = 0;
  EXPECT_FALSE(state.HasFirmware());
  ASSERT_EQ(state.SetFirmwareFile(a.path(), major, minor), KVXR_OK);
  CurrentFirmware first = state.Get();
  ASSERT_TRUE(first.image);
  EXPECT_EQ(first.major, 1u);
  EXPECT_EQ(first.minor, 5u);
  EXPECT_EQ(state.SetFirmwareFile(b.path(), major, minor), KVXR_BAD_FW_VERSION);
  EXPECT_EQ(state.SetFirmwareFile(u"/nonexistent/x.hex", major, minor), KVXR_FILE_NOT_FOUND);
  CurrentFirmware still = state.Get();
  EXPECT_EQ(still.image.get(), first.image.get());
  EXPECT_EQ(still.minor, 5u);
  ASSERT_EQ(state.SetFirmwareFile(c.path(), major, minor), KVXR_OK);
  CurrentFirmware now = state.Get();
  EXPECT_NE(now.image.get(), first.image.get());
  EXPECT_EQ(now.major, 2u);
  EXPECT_EQ(now.minor, 7u);
  // A holder of the old image keeps it whole after the replacement.
  EXPECT_EQ(Chunks(first.image.get()).front().data, Pattern(0x3000, 1));
}

TEST(SetFirmwareFileExport, StatusesAndVersionText) {
  TempFile a(Firmware("1.2")), bad(Firmware("x.1")), model("fw.info\n");
  std::u16string v;
  EXPECT_EQ(SetFile(a.path(), &v), 0);
  EXPECT_EQ(v, u"1.002");
  EXPECT_EQ(SetFile(a.path(), &v, 4), 0);
  EXPECT_EQ(v, u"1.0");
  EXPECT_EQ(SetFile(a.path(), &v, 3), 0);
  EXPECT_EQ(v, u"1.");
  EXPECT_EQ(SetFile(bad.path()), KVXR_BAD_FW_VERSION);
  EXPECT_EQ(SetFile(model.path()), KVXR_NOT_FIRMWARE_FILE);
  EXPECT_EQ(SetFile(u"/nonexistent/qs/fw.hex"), KVXR_FILE_NOT_FOUND);
  EXPECT_EQ(SetFile(plat::Utf8ToWide(kDataDir)), KVXR_NOT_FIRMWARE_FILE);
  KVxR_WCHAR out[8];
  EXPECT_EQ(KVxR_SetFirmwareFile(nullptr, out, 8), KVXR_FILE_NOT_FOUND);
  KVxR_WCHAR emptyPath[1] = {0};
  EXPECT_EQ(KVxR_SetFirmwareFile(emptyPath, out, 8), KVXR_FILE_NOT_FOUND);
  EXPECT_EQ(KVxR_SetFirmwareFile(W(a.path()), nullptr, 0), KVXR_OK);
}

// Files written by srec_cat and objcopy (tests/firmware/data/make-files.sh):
// every chunk must equal the binary piece it was made from, byte for byte.
TEST(ToolFiles, LoadToTheirBinaries) {
  std::ifstream list(kDataDir + "/files.txt");
  ASSERT_TRUE(list) << kDataDir;
  std::string line;
  int files = 0;
  while (std::getline(list, line)) {
    if (line.empty()) continue;
    std::istringstream in(line);
    std::string name, format, version, piece;
    int32_t status = 0;
    in >> name >> status >> format >> version;
    SCOPED_TRACE(name);
    std::vector<ChunkCopy> want;
    while (in >> piece) {
      size_t eq = piece.find('=');
      ASSERT_NE(eq, std::string::npos);
      Bytes b;
      ASSERT_EQ(plat::ReadWholeFile(plat::Utf8ToWide(kDataDir + "/" + piece.substr(eq + 1)), 1 << 20, b),
                plat::ReadResult::Ok);
      want.push_back(ChunkCopy{static_cast<uint32_t>(std::stoul(piece.substr(0, eq), nullptr, 16)), b});
    }
    std::u16string path = plat::Utf8ToWide(kDataDir + "/" + name);
    LoadedFirmware f = LoadFirmwareFile(path);
    EXPECT_EQ(f.status, status);
    EXPECT_EQ(f.format == ImageFormat::IntelHex ? "intel-hex" : f.format == ImageFormat::SRecord ? "s-record" : "-",
              format);
    if (f.image && !want.empty()) {
      EXPECT_EQ(Chunks(f.image.get()), want);
    }
    std::u16string v;
    EXPECT_EQ(SetFile(path, &v), status);
    if (status == 0) {
      size_t dot = version.find('.');
      EXPECT_EQ(plat::WideToUtf8(v), VersionText(static_cast<uint32_t>(std::stoul(version.substr(0, dot))),
                                                 static_cast<uint32_t>(std::stoul(version.substr(dot + 1)))));
    }
    ++files;
  }
  EXPECT_GE(files, 12);
}

}  // namespace
}  // namespace qs::fw::test
