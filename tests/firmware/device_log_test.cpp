// The per-device log: written into a temporary folder (and once into the
// machine-wide folder the platform names) and read back from the disk.
#include <gtest/gtest.h>
#include <picojson.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "firmware/device_log.h"
#include "platform/appdata.h"
#include "platform/file.h"
#include "platform/text.h"

namespace qs::fw {
namespace {

namespace fs = std::filesystem;

const uint8_t kId[16] = {0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x11, 0x22, 0x33, 0x44, 0xFE, 0xDC, 0xBA, 0x98};
const plat::LocalTime kTime{2024, 3, 7, 9, 5, 1};

class TempFolder {
 public:
  TempFolder() {
    std::u16string p;
    EXPECT_TRUE(plat::MakeTempFile(u"qslog", p));
    plat::DeleteFilePath(p);
    path_ = fs::path(p);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::u16string root() const { return path_.u16string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadText(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

fs::path DeviceFolder(const fs::path& root) {
  return root / "Tavrolux" / "KV-xR_update" / "Log" / "04030201-D0C0B0A0-44332211-98BADCFE";
}

TEST(DeviceLog, FolderAndFileNames) {
  EXPECT_EQ(plat::WideToUtf8(DeviceLog::DeviceFolderName(kId)), "04030201-D0C0B0A0-44332211-98BADCFE");
  EXPECT_EQ(plat::WideToUtf8(DeviceLog::FileName(kTime)), "20240307_090501");
  EXPECT_EQ(plat::WideToUtf8(DeviceLog::FileName(plat::LocalTime{1999, 12, 31, 23, 59, 59})), "19991231_235959");
}

TEST(DeviceLog, AnEmptyLogWritesAnEmptyObjectAndMakesEveryFolder) {
  TempFolder tmp;
  ASSERT_FALSE(fs::exists(tmp.path()));  // not even the root exists yet
  DeviceLog log(kId);
  ASSERT_TRUE(log.WriteUnder(tmp.root(), kTime));
  const fs::path file = DeviceFolder(tmp.path()) / "20240307_090501";
  ASSERT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(ReadText(file), "{}");
}

TEST(DeviceLog, EntriesAreCompactJsonInKeyOrderAndTheLastValueWins) {
  TempFolder tmp;
  DeviceLog log(kId);
  log.AddEntry(kLogProductData, "read-error");
  const uint8_t cal[4] = {0x00, 0x7F, 0xA5, 0xFF};
  log.AddHexEntry(kLogCalibrationData, cal, sizeof cal);
  log.AddEntry(kLogMigratedProductData, "write-error");
  log.AddEntry(kLogMigratedProductData, "build-error");
  log.AddEntry("Zeta \"quoted\"", "line\nbreak");
  ASSERT_TRUE(log.WriteUnder(tmp.root(), kTime));
  const std::string text = ReadText(DeviceFolder(tmp.path()) / "20240307_090501");
  EXPECT_EQ(text,
            "{\"Zeta \\\"quoted\\\"\":\"line\\nbreak\",\"calibration-data\":\"007FA5FF\","
            "\"migrated-product-data\":\"build-error\",\"product-data\":\"read-error\"}");
  picojson::value v;
  EXPECT_TRUE(picojson::parse(v, text).empty());
  EXPECT_EQ(v.get("Zeta \"quoted\"").get<std::string>(), "line\nbreak");
}

TEST(DeviceLog, ASecondWriteInTheSameSecondReplacesTheFirst) {
  TempFolder tmp;
  DeviceLog first(kId);
  first.AddEntry("product-data", std::string(5000, 'A'));
  ASSERT_TRUE(first.WriteUnder(tmp.root(), kTime));
  DeviceLog second(kId);
  second.AddEntry("product-data", "B");
  ASSERT_TRUE(second.WriteUnder(tmp.root(), kTime));
  EXPECT_EQ(ReadText(DeviceFolder(tmp.path()) / "20240307_090501"), "{\"product-data\":\"B\"}");
  EXPECT_EQ(std::distance(fs::directory_iterator(DeviceFolder(tmp.path())), fs::directory_iterator()), 1);
}

TEST(DeviceLog, FailuresLeaveNoFileBehind) {
  TempFolder tmp;
  fs::create_directories(tmp.path() / "Tavrolux");
  {  // a file where a folder must go
    std::ofstream(tmp.path() / "Tavrolux" / "KV-xR_update") << "x";
    DeviceLog log(kId);
    EXPECT_FALSE(log.WriteUnder(tmp.root(), kTime));
    fs::remove(tmp.path() / "Tavrolux" / "KV-xR_update");
  }
  {  // a folder where the file must go
    fs::create_directories(DeviceFolder(tmp.path()) / "20240307_090501");
    DeviceLog log(kId);
    EXPECT_FALSE(log.WriteUnder(tmp.root(), kTime));
    EXPECT_TRUE(fs::is_directory(DeviceFolder(tmp.path()) / "20240307_090501"));
  }
  DeviceLog log(kId);
  EXPECT_FALSE(log.WriteUnder(u"", kTime));
}

TEST(DeviceLog, WriteGoesUnderTheMachineWideFolder) {
#ifndef _WIN32
  TempFolder tmp;
  ASSERT_EQ(setenv("QS_COMMON_APPDATA", fs::path(tmp.path()).string().c_str(), 1), 0);
#endif
  std::u16string root;
  ASSERT_TRUE(plat::CommonAppDataFolder(root));
  ASSERT_TRUE(fs::is_directory(fs::path(root)));
  const fs::path folder = DeviceFolder(fs::path(root));
  std::error_code ec;
  fs::remove_all(folder, ec);

  const plat::LocalTime before = plat::LocalTimeNow();
  DeviceLog log(kId);
  log.AddEntry("obsolete-config-area", "read-error");
  ASSERT_TRUE(log.Write());
  const plat::LocalTime after = plat::LocalTimeNow();
  const fs::path a = folder / fs::path(DeviceLog::FileName(before));
  const fs::path b = folder / fs::path(DeviceLog::FileName(after));
  ASSERT_TRUE(fs::exists(a) || fs::exists(b)) << a;
  EXPECT_EQ(ReadText(fs::exists(a) ? a : b), "{\"obsolete-config-area\":\"read-error\"}");
  fs::remove_all(fs::path(root) / "Tavrolux", ec);
#ifndef _WIN32
  unsetenv("QS_COMMON_APPDATA");
#endif
}

}  // namespace
}  // namespace qs::fw
