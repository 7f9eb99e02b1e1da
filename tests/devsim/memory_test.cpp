// The device memory the programming stream works on, and how a device's
// memory is made from its settings (no network: through the control commands
// before the simulator starts).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "devsim/device_memory.h"
#include "devsim/families.h"
#include "devsim/memory.h"
#include "devsim/sim.h"
#include "library/KV-xR_update.h"
#include "platform/sha1.h"

namespace qs::devsim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Read(const Memory& m, uint32_t address, uint32_t size) {
  Bytes b(size);
  m.Read(address, size, b.data());
  return b;
}

Bytes Sha1(const Bytes& b) {
  Bytes d(20);
  plat::Sha1Digest(b.data(), b.size(), d.data());
  return d;
}

TEST(DeviceMemory, SparsePagesReadErasedUntilWrittenAcrossEveryBoundary) {
  Memory m;
  EXPECT_EQ(Read(m, 0x1234, 10), Bytes(10, 0xFF));
  Bytes data(700);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  m.Write(0x10F0, data.data(), data.size());  // three pages and a bit
  EXPECT_EQ(m.pages(), 4u);
  EXPECT_EQ(Read(m, 0x10F0, 700), data);
  EXPECT_EQ(Read(m, 0x10EF, 1), Bytes(1, 0xFF));
  EXPECT_EQ(Read(m, 0x10F0 + 700, 1), Bytes(1, 0xFF));
  Bytes digest(20);
  m.Digest(0x1000, 0x1000, digest.data());
  EXPECT_EQ(digest, Sha1(Read(m, 0x1000, 0x1000)));
  // erasing part of a page keeps the rest; a whole page is let go
  m.Erase(0x1100, 0x100);
  EXPECT_EQ(m.pages(), 3u);
  m.Erase(0x10F0, 8);
  EXPECT_EQ(Read(m, 0x10F0, 8), Bytes(8, 0xFF));
  EXPECT_EQ(Read(m, 0x10F8, 8), Bytes(data.begin() + 8, data.begin() + 16));
  // writing erased bytes into erased flash holds nothing
  Bytes ff(1024, 0xFF);
  m.Write(0x50000, ff.data(), ff.size());
  EXPECT_EQ(m.pages(), 3u);
  m.Clear();
  EXPECT_EQ(m.pages(), 0u);
}

TEST(DeviceMemory, RangesAndAreas) {
  Memory m;
  EXPECT_TRUE(m.Holds(0, 1));
  EXPECT_TRUE(m.Holds(0xFFFFF, 1));
  EXPECT_FALSE(m.Holds(0xFFFFF, 2));
  EXPECT_FALSE(m.Holds(0x100000, 1));
  EXPECT_FALSE(m.Holds(0x4000, 0));
  EXPECT_TRUE(m.Holds(0x804000, 512));
  EXPECT_FALSE(m.Holds(0x804000, 513));
  EXPECT_FALSE(m.Holds(0x803FFF, 2));
  EXPECT_FALSE(m.Holds(0xFFFFFFFFu, 2));  // no wrap to 0
  EXPECT_FALSE(m.InFlash(0x804000, 1));
  EXPECT_TRUE(Memory::InRecord(0x804020, 480));
  EXPECT_FALSE(Memory::InRecord(0x80401F, 2));
  EXPECT_FALSE(Memory::InRecord(0x804020, 481));
  EXPECT_EQ(Memory::AreaOf(0x4000), Area::App);
  EXPECT_EQ(Memory::AreaOf(0x3E000), Area::OldConfig);
  EXPECT_EQ(Memory::AreaOf(0x3FFFF), Area::OldConfig);
  EXPECT_EQ(Memory::AreaOf(0x40000), Area::App);
  EXPECT_EQ(Memory::AreaOf(0xFE000), Area::ConfigBlock);
  EXPECT_EQ(Memory::AreaOf(0xFE038), Area::App);
  EXPECT_EQ(Memory::AreaOf(0x804000), Area::Product);
}

TEST(DeviceMemory, InfoBlockAndProductRecordAsTheFirmwareReadsThem) {
  Memory m;
  fw::FirmwareInfo info;
  EXPECT_EQ(ReadInfoBlock(m, info), KVXR_NO_FW_INFO);
  WriteInfoBlock(m, 2, 10);
  ASSERT_EQ(ReadInfoBlock(m, info), 0);
  EXPECT_EQ(info.major, 2u);
  EXPECT_EQ(info.minor, 10u);
  const char wrong[] = "fw.info{\"model\":\"KV-yR\",\"version\":\"1.0\"}";
  m.Write(0x4000, reinterpret_cast<const uint8_t*>(wrong), sizeof wrong);
  EXPECT_EQ(ReadInfoBlock(m, info), KVXR_WRONG_FAMILY);

  Identity id;
  id.model = "KV3R";
  id.serial = "SN-42";
  id.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  WriteProductState(m, ProductState::Valid, id);
  Bytes record = Read(m, kRecordAddress, kRecordSize);
  EXPECT_TRUE(RecordValid(record.data()));
  Bytes block = Read(m, kOldConfigAddress, 64);
  EXPECT_TRUE(OldBlockPasses(block.data(), block.size()));
  // one bit of the digest, an item running past 480, no end item
  Bytes bad = record;
  bad[0] ^= 1;
  EXPECT_FALSE(RecordValid(bad.data()));
  bad = record;
  bad[20 + 1] = 0xFF;  // the first item claims 255 bytes: the walk lands on an erased item running past 480
  EXPECT_FALSE(RecordValid(bad.data()));
  Bytes ones(kRecordSize, 0x11);  // items of 17 bytes to the very end
  EXPECT_FALSE(RecordValid(ones.data()));
  // an item of length 0 ends the walk like the end item
  Bytes early(kRecordSize, 0xFF);
  early[20] = 0x05;
  early[21] = 0;
  plat::Sha1Digest(early.data() + 20, 2, early.data());
  EXPECT_TRUE(RecordValid(early.data()));

  WriteProductState(m, ProductState::OldBad, id);
  block = Read(m, kOldConfigAddress, 64);
  EXPECT_FALSE(OldBlockPasses(block.data(), block.size()));
  EXPECT_EQ(Read(m, kRecordAddress, kRecordSize), Bytes(kRecordSize, 0xFF));
  WriteProductState(m, ProductState::Old, id);
  block = Read(m, kOldConfigAddress, 64);
  EXPECT_TRUE(OldBlockPasses(block.data(), block.size()));
  std::memset(block.data(), 0, 6);
  EXPECT_FALSE(OldBlockPasses(block.data(), block.size()));
  WriteProductState(m, ProductState::Blank, id);
  EXPECT_EQ(Read(m, kProductAddress, kProductSize), Bytes(kProductSize, 0xFF));
  EXPECT_EQ(ReadInfoBlock(m, info), KVXR_WRONG_FAMILY);  // the product data leave the firmware alone
}

class UpdateSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(AddProductFamilies(sim, &why)) << why;
  }
  std::map<std::string, std::string> Show(const std::string& mac) {
    std::vector<std::string> out;
    std::string why;
    EXPECT_TRUE(sim.Control("show " + mac, &out, &why)) << why;
    std::map<std::string, std::string> m;
    for (const auto& l : out) m[l.substr(0, l.find('='))] = l.substr(l.find('=') + 1);
    return m;
  }
  std::string Add(const std::string& settings) {
    std::vector<std::string> out;
    std::string why;
    EXPECT_TRUE(sim.Control("add " + settings, &out, &why)) << why;
    return out.size() == 1 ? out[0].substr(4) : "";
  }
  bool Refused(const std::string& line) {
    std::vector<std::string> out;
    std::string why;
    return !sim.Control(line, &out, &why);
  }
  Simulator sim;
};

TEST_F(UpdateSettings, TheMemoryIsMadeFromEverySettingOfTheCommand) {
  // the identity named after product= still goes into the areas
  std::string mac = Add("model=KV2R product=old serial=LATE-SERIAL version=1.7");
  auto s = Show(mac);
  EXPECT_EQ(s["fw_info"], "1.7");
  EXPECT_EQ(s["pd_record"], "invalid");
  EXPECT_NE(s["old_block"].find("4B563252"), std::string::npos);     // "KV2R"
  EXPECT_NE(s["old_block"].find("4C4154452D53455249414C00"), std::string::npos);  // "LATE-SERIAL\0"
  EXPECT_EQ(s["state"], "online");
  EXPECT_EQ(s["loader_phase"], "app");

  std::vector<std::string> out;
  std::string why;
  ASSERT_TRUE(sim.Control("set " + mac + " fw_version=3.1 product=valid", &out, &why)) << why;
  s = Show(mac);
  EXPECT_EQ(s["fw_info"], "3.1");
  EXPECT_EQ(s["version"], "3.1");
  EXPECT_EQ(s["pd_record"], "valid");
  ASSERT_TRUE(sim.Control("set " + mac + " fw_version=none", &out, &why)) << why;
  EXPECT_EQ(Show(mac)["fw_info"], "status-500");
  EXPECT_EQ(Show(mac)["state"], "online");  // it runs until its next start

  std::string stuck = Add("model=KV1R stuck=1 loader=older");
  s = Show(stuck);
  EXPECT_EQ(s["state"], "loader");
  EXPECT_EQ(s["loader_phase"], "waiting-offer");
  EXPECT_EQ(s["ip"], "0.0.0.0");
  EXPECT_EQ(s["static"], "10.71.8.2");  // its configured address stays configured

  for (const char* bad : {"tcp_port=0", "tcp_port=65536", "wpboot_interval=10", "fw_version=1", "fw_version=x.1",
                          "product=new", "read_fault_at=app,ram", "fw_file=/nonexistent/fw.hex", "loader=usb",
                          "loader_delay=600001"})
    EXPECT_TRUE(Refused(std::string("add model=KV1R ") + bad)) << bad;
  EXPECT_TRUE(Refused("set " + mac + " ram_size=5"));
}

}  // namespace
}  // namespace qs::devsim
