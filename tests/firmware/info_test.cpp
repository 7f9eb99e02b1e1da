// The "fw.info" description: where it is looked for, what it must say.
#include <gtest/gtest.h>

#include <cstring>

#include "firmware/byte_source.h"
#include "firmware/firmware_info.h"
#include "firmware/intellec_hex.h"
#include "library/KV-xR_update.h"
#include "tests/firmware/fw_test_util.h"

namespace qs::fw::test {
namespace {

Bytes Text(const std::string& s, bool nul = true) {
  Bytes b(s.begin(), s.end());
  if (nul) b.push_back(0);
  return b;
}

Ref<IBinaryImage> Image(const std::vector<ChunkCopy>& pieces) {
  std::string text = IntelText(pieces);
  MemoryByteSource src(text.data(), text.size());
  Ref<IBinaryImage> img = Ref<IBinaryImage>::Adopt(IntellecHex::LoadFrom(src, u"mem"));
  EXPECT_TRUE(img);
  return img;
}

struct Outcome {
  int32_t status;
  uint32_t major, minor;
};

Outcome Read(const std::vector<ChunkCopy>& pieces) {
  FirmwareInfo info;
  info.major = info.minor = 77;
  int32_t st = ReadFirmwareInfo(Image(pieces).get(), info);
  return Outcome{st, info.major, info.minor};
}

Outcome ReadAt(uint32_t address, const std::string& s) { return Read({{address, Text(s)}}); }

std::string Info(const std::string& version) {
  return "fw.info{\"model\":\"KV-xR\",\"version\":\"" + version + "\"}";
}

TEST(FirmwareInfo, VersionsThatAreAccepted) {
  struct Case {
    const char* text;
    uint32_t major, minor;
  } cases[] = {{"2.10", 2, 10}, {"0.199", 0, 199}, {"1.002", 1, 2}, {" 3.+4", 3, 4}, {"+5.6rc1", 5, 6},
               {"4294967295.4294967295", 4294967295u, 4294967295u}, {"7.8.9", 7, 8}};
  for (const Case& c : cases) {
    Outcome o = ReadAt(0x4100, Info(c.text));
    EXPECT_EQ(o.status, KVXR_OK) << c.text;
    EXPECT_EQ(o.major, c.major) << c.text;
    EXPECT_EQ(o.minor, c.minor) << c.text;
  }
}

// A negative or oversized number would wrap into a different version; a
// missing number is no version at all.
TEST(FirmwareInfo, VersionsThatAreRefused) {
  for (const char* v : {"3", "x.1", "", ".", "1.", ".5", "1,5", "1 .5", "-1.5", "1.-5", "4294967296.0",
                        "1.99999999999999999999", "1.x"}) {
    Outcome o = ReadAt(0x4100, Info(v));
    EXPECT_EQ(o.status, KVXR_BAD_FW_VERSION) << v;
    EXPECT_EQ(o.major, 77u) << v;
  }
}

TEST(FirmwareInfo, TextChecks) {
  EXPECT_EQ(ReadAt(0x4000, "fw.info not json").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info[\"KV-xR\",\"1.0\"]").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info\"KV-xR\"").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"version\":\"1.0\"}").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":\"KV-xR\"}").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":\"KV-xR\",\"version\":1.5}").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":null,\"version\":\"1.5\"}").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":\"KV-xR\",\"version\":\"1.5\"").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info").status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info" + std::string(300, '[') + std::string(300, ']')).status, KVXR_BAD_FW_INFO);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":\"kv-xr\",\"version\":\"1.5\"}").status, KVXR_WRONG_FAMILY);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":\"KV-xR \",\"version\":\"1.5\"}").status, KVXR_WRONG_FAMILY);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":\"KV-xR\\u0000\",\"version\":\"1.5\"}").status, KVXR_WRONG_FAMILY);
  EXPECT_EQ(ReadAt(0x4000, "fw.info{\"model\":\"KV-1R\",\"version\":\"x\"}").status, KVXR_WRONG_FAMILY);
  // White space before the value, other keys and text after it do not matter.
  Outcome o = ReadAt(0x4000, "fw.info \r\n\t{\"a\":[1,{}],\"version\":\"1.5\",\"model\":\"KV-xR\"} trailing }{");
  EXPECT_EQ(o.status, KVXR_OK);
  EXPECT_EQ(o.minor, 5u);
}

TEST(FirmwareInfo, WhereTheMarkerIsLookedFor) {
  // The first marker wins, even when a later one is good.
  EXPECT_EQ(Read({{0x4000, Text("fw.info{bad")}, {0x4800, Text(Info("1.1"))}}).status, KVXR_BAD_FW_INFO);
  // All seven bytes must lie inside the window.
  EXPECT_EQ(ReadAt(0x4FF9, "fw.info").status, KVXR_BAD_FW_INFO);   // 0x4FF9..0x4FFF: found, no text
  EXPECT_EQ(ReadAt(0x4FFA, "fw.info").status, KVXR_NO_FW_INFO);    // last byte at 0x5000
  EXPECT_EQ(ReadAt(0x3FFF, Info("1.1")).status, KVXR_NO_FW_INFO);  // starts below the window
  EXPECT_EQ(ReadAt(0x5000, Info("1.1")).status, KVXR_NO_FW_INFO);
  // A chunk that begins below the window and runs into it is clipped.
  Bytes lead(0x50, 'z');
  Bytes t = Text(Info("9.1"));
  lead.insert(lead.end(), t.begin(), t.end());
  EXPECT_EQ(Read({{0x4000 - 0x20, lead}}).status, KVXR_OK);
  // A marker split over two chunks that touch is found; over a hole it is not.
  std::string m = Info("1.3");
  EXPECT_EQ(Read({{0x4200, Text(m.substr(0, 3), false)}, {0x4203, Text(m.substr(3))}}).status, KVXR_OK);
  EXPECT_EQ(Read({{0x4200, Text(m.substr(0, 3), false)}, {0x4204, Text(m.substr(3))}}).status, KVXR_NO_FW_INFO);
  // No chunk in the window at all.
  EXPECT_EQ(Read({{0x0, Text(Info("1.1"))}}).status, KVXR_NO_FW_INFO);
}

TEST(FirmwareInfo, TextEndsAtNulOrAtTheWindowEnd) {
  // The text runs to the end of the window; the image goes on beyond it.
  std::string s = Info("4.2");
  Bytes b(s.begin(), s.end());
  uint32_t at = 0x5000 - static_cast<uint32_t>(b.size());
  Bytes after = Text("garbage");
  b.insert(b.end(), after.begin(), after.end());
  EXPECT_EQ(Read({{at, b}}).status, KVXR_OK);
  // Cut by the window: the closing brace falls outside.
  EXPECT_EQ(Read({{at + 1, b}}).status, KVXR_BAD_FW_INFO);
  // Bytes a chunk does not cover read as NUL.
  EXPECT_EQ(Read({{0x4400, Text(s, false)}, {0x4400 + static_cast<uint32_t>(s.size()) + 1, Text("x")}}).status, KVXR_OK);
}

TEST(FirmwareInfo, ParseVersionText) {
  uint32_t a = 1, b = 1;
  EXPECT_TRUE(ParseVersionText(u"\t12.034", a, b));
  EXPECT_EQ(a, 12u);
  EXPECT_EQ(b, 34u);
  EXPECT_FALSE(ParseVersionText(u"12", a, b));
  EXPECT_EQ(a, 12u);  // untouched on failure
}

}  // namespace
}  // namespace qs::fw::test
