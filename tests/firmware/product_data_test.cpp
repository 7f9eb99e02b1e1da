// Product data as bytes: the record walk and its validity, the old block's
// check, the record and configuration block built from it, and the migration
// step over a unit's memory with faults at each read and write, checked
// through the device log's entries.
#include <gtest/gtest.h>
#include <picojson.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "firmware/device_log.h"
#include "firmware/product_data.h"
#include "firmware/product_data_migration.h"
#include "firmware/update_status.h"
#include "platform/sha1.h"
#include "runtime/bytes.h"

namespace qs::fw {
namespace {

const uint8_t kMac[6] = {0x02, 0x00, 0x00, 0x00, 0x01, 0x30};

// An old configuration block as earlier firmware wrote it.
std::vector<uint8_t> OldBlock(const char* model, const std::string& serial, const uint8_t* mac = kMac) {
  std::vector<uint8_t> b(kOldConfigSize, 0xFF);
  std::memcpy(b.data(), mac, 6);
  b[6] = 1;
  for (size_t i = 8; i < 22; ++i) b[i] = static_cast<uint8_t>(0x40 + i);
  std::memset(b.data() + 22, 0, 8);
  std::memcpy(b.data() + 22, model, std::strlen(model));
  std::memcpy(b.data() + 30, serial.data(), serial.size());
  b[30 + serial.size()] = 0;
  return b;
}

// A record of the given items (tag, data) with a correct digest over them.
std::vector<uint8_t> Record(const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& items) {
  std::vector<uint8_t> r(kProductRecordSize, 0xFF);
  size_t at = 20;
  for (const auto& [tag, data] : items) {
    r[at] = tag;
    r[at + 1] = static_cast<uint8_t>(data.size());
    if (!data.empty()) std::memcpy(r.data() + at + 2, data.data(), data.size());
    at += 2 + data.size();
  }
  plat::Sha1Digest(r.data() + 20, at - 20, r.data());
  return r;
}

TEST(ProductRecord, WalkEndsAtTheEndItemOrAnEmptyItemAndRefusesItemsPastItsRoom) {
  auto r = Record({{0xF0, {1}}, {0x03, {'A', 'B'}}, {0xFF, {}}});
  RecordWalk w = WalkProductRecord(r.data(), r.size());
  EXPECT_TRUE(w.complete);
  EXPECT_EQ(w.end, 20u + 3 + 4 + 2);
  EXPECT_EQ(w.items, 3u);
  EXPECT_TRUE(ProductRecordValid(r.data(), r.size()));

  // An item of length 0 ends the walk whatever its tag; what follows is not covered.
  auto empty = Record({{0xF0, {1}}, {0x07, {}}});
  empty[40] ^= 0x55;
  EXPECT_TRUE(ProductRecordValid(empty.data(), empty.size()));

  // Items that run past byte 480: the last one starts inside and ends outside.
  std::vector<std::pair<uint8_t, std::vector<uint8_t>>> longItems = {{0x10, std::vector<uint8_t>(255, 1)}};
  auto past = Record(longItems);
  past[277] = 0x11;
  past[278] = 250;  // 277 + 2 + 250 > 480
  EXPECT_FALSE(WalkProductRecord(past.data(), past.size()).complete);
  EXPECT_FALSE(ProductRecordValid(past.data(), past.size()));
  // An item header that would start at byte 479 has no room for its length.
  auto edge = Record({{0x10, std::vector<uint8_t>(255, 1)}, {0x11, std::vector<uint8_t>(200, 2)}});
  EXPECT_EQ(20u + 257 + 202, 479u);
  edge[479] = 0x12;
  EXPECT_FALSE(WalkProductRecord(edge.data(), edge.size()).complete);
  // The end item ending exactly at byte 480 is inside.
  auto full = Record({{0x10, std::vector<uint8_t>(255, 1)}, {0x11, std::vector<uint8_t>(199, 2)}, {0xFF, {}}});
  RecordWalk fw = WalkProductRecord(full.data(), full.size());
  EXPECT_TRUE(fw.complete);
  EXPECT_EQ(fw.end, 480u);
  EXPECT_TRUE(ProductRecordValid(full.data(), full.size()));

  // Erased flash: tag FF with length FF runs past the end.
  std::vector<uint8_t> erased(kProductRecordSize, 0xFF);
  EXPECT_FALSE(ProductRecordValid(erased.data(), erased.size()));
  // An erase destroys only the digest: the walk completes, the digest fails.
  auto erasedDigest = r;
  std::memset(erasedDigest.data(), 0xFF, kRecordEraseSize);
  EXPECT_TRUE(WalkProductRecord(erasedDigest.data(), erasedDigest.size()).complete);
  EXPECT_FALSE(ProductRecordValid(erasedDigest.data(), erasedDigest.size()));
  // Any change inside the covered bytes breaks it.
  for (size_t i : {20u, 22u, 25u, 28u}) {
    auto changed = r;
    changed[i] ^= 1;
    EXPECT_FALSE(ProductRecordValid(changed.data(), changed.size())) << i;
  }
  // Fewer bytes than a digest and one item header.
  EXPECT_FALSE(WalkProductRecord(r.data(), 21).complete);
  EXPECT_FALSE(WalkProductRecord(nullptr, 480).complete);
}

TEST(ProductRecord, OldBlockCheckAndSerial) {
  EXPECT_TRUE(OldBlockPasses(OldBlock("KV1R", "S1").data(), kOldConfigSize));
  EXPECT_TRUE(OldBlockPasses(OldBlock("KV2R", "").data(), kOldConfigSize));
  EXPECT_TRUE(OldBlockPasses(OldBlock("KV3Rplus", "S").data(), kOldConfigSize));
  EXPECT_FALSE(OldBlockPasses(OldBlock("KV4R", "S").data(), kOldConfigSize));
  EXPECT_FALSE(OldBlockPasses(OldBlock("kv1r", "S").data(), kOldConfigSize));
  EXPECT_FALSE(OldBlockPasses(OldBlock("KV1", "S").data(), kOldConfigSize));
  const uint8_t ones[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t zeros[6] = {};
  const uint8_t almost[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
  EXPECT_FALSE(OldBlockPasses(OldBlock("KV1R", "S", ones).data(), kOldConfigSize));
  EXPECT_FALSE(OldBlockPasses(OldBlock("KV1R", "S", zeros).data(), kOldConfigSize));
  EXPECT_TRUE(OldBlockPasses(OldBlock("KV1R", "S", almost).data(), kOldConfigSize));
  EXPECT_FALSE(OldBlockPasses(OldBlock("KV1R", "S").data(), 29));

  EXPECT_EQ(OldBlockSerial(OldBlock("KV1R", "QS000123").data(), kOldConfigSize), "QS000123");
  const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
  EXPECT_EQ(OldBlockSerial(OldBlock("KV1R", forty).data(), kOldConfigSize), forty.substr(0, 24));
  // Without a NUL the serial ends with the bytes available.
  auto b = OldBlock("KV1R", "XYZW");
  EXPECT_EQ(OldBlockSerial(b.data(), 32), "XY");
}

TEST(ProductRecord, BuiltFromTheOldBlockValidatesAndCarriesItsItems) {
  auto old = OldBlock("KV2R", "QS004711");
  uint8_t rec[kProductRecordSize];
  size_t used = 0;
  ASSERT_TRUE(BuildProductRecord(old.data(), old.size(), rec, sizeof rec, &used));
  EXPECT_EQ(used, 20u + 3 + 10 + 8 + 10 + 2);
  EXPECT_TRUE(ProductRecordValid(rec, sizeof rec));
  EXPECT_EQ(bytes::HexText(rec + 20, 3), "F00101");
  for (size_t i = used; i < sizeof rec; ++i) ASSERT_EQ(rec[i], 0xFF) << i;
  RecordItem it;
  ASSERT_TRUE(ProductRecordItem(rec, sizeof rec, 1, &it));
  EXPECT_EQ(it.tag, kItemModel);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(it.data), it.length), std::string("KV2R\0\0\0\0", 8));
  ASSERT_TRUE(ProductRecordItem(rec, sizeof rec, 2, &it));
  EXPECT_EQ(it.tag, kItemMac);
  EXPECT_EQ(std::memcmp(it.data, kMac, 6), 0);
  ASSERT_TRUE(ProductRecordItem(rec, sizeof rec, 3, &it));
  EXPECT_EQ(it.tag, kItemSerial);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(it.data), it.length), "QS004711");
  ASSERT_TRUE(ProductRecordItem(rec, sizeof rec, 4, &it));
  EXPECT_EQ(it.tag, kItemEnd);
  EXPECT_FALSE(ProductRecordItem(rec, sizeof rec, 5, &it));

  // A serial that does not fit the room left fails the build.
  EXPECT_FALSE(BuildProductRecord(old.data(), old.size(), rec, 20 + 3 + 10 + 8 + 10 + 1, &used));
  EXPECT_TRUE(BuildProductRecord(old.data(), old.size(), rec, 20 + 3 + 10 + 8 + 10 + 2, &used));

  uint8_t block[kConfigBlockSize];
  ASSERT_TRUE(BuildConfigBlock(old.data(), old.size(), block));
  EXPECT_EQ(std::memcmp(block, "KVCF\x01\x00", 6), 0);
  EXPECT_EQ(std::memcmp(block + 6, kMac, 6), 0);
  EXPECT_EQ(std::memcmp(block + 12, old.data() + 6, 16), 0);
  EXPECT_EQ(std::memcmp(block + 28, "KV2R\0\0\0\0", 8), 0);
  uint8_t digest[20];
  plat::Sha1Digest(block, 36, digest);
  EXPECT_EQ(std::memcmp(block + 36, digest, 20), 0);
}

TEST(ProductRecord, AnOldBlockWithoutSerialBuildsAValidRecordWithoutTheSerialItem) {
  // An item of length 0 ends the walk, so an empty serial item would leave
  // the end item outside the walk and the digest would never match.
  auto old = OldBlock("KV1R", "");
  uint8_t rec[kProductRecordSize];
  size_t used = 0;
  ASSERT_TRUE(BuildProductRecord(old.data(), old.size(), rec, sizeof rec, &used));
  EXPECT_EQ(used, 20u + 3 + 10 + 8 + 2);
  EXPECT_TRUE(ProductRecordValid(rec, sizeof rec));
  RecordItem it;
  ASSERT_TRUE(ProductRecordItem(rec, sizeof rec, 2, &it));
  EXPECT_EQ(it.tag, kItemMac);
  ASSERT_TRUE(ProductRecordItem(rec, sizeof rec, 3, &it));
  EXPECT_EQ(it.tag, kItemEnd);
  EXPECT_FALSE(ProductRecordItem(rec, sizeof rec, 4, &it));
}

// A unit's memory: erased flash with areas written, and faults at addresses.
class FakeMemory : public DeviceMemory {
 public:
  struct WriteSeen {
    WriteTag tag;
    uint32_t address;
    std::vector<uint8_t> data;
  };
  void Put(uint32_t address, const std::vector<uint8_t>& b) {
    for (size_t i = 0; i < b.size(); ++i) bytes_[address + static_cast<uint32_t>(i)] = b[i];
  }
  std::vector<uint8_t> Get(uint32_t address, uint32_t size) const {
    std::vector<uint8_t> out(size);
    for (uint32_t i = 0; i < size; ++i) {
      auto it = bytes_.find(address + i);
      out[i] = it == bytes_.end() ? 0xFF : it->second;
    }
    return out;
  }
  int32_t Read(uint32_t address, uint32_t size, uint8_t* out) override {
    reads.push_back(address);
    if (readFails.count(address) && (readFailSize == 0 || readFailSize == size)) return KVXR_UPDATE_BAD_READ;
    auto b = Get(address, size);
    std::memcpy(out, b.data(), size);
    return 1;
  }
  int32_t Write(WriteTag tag, uint32_t address, const uint8_t* data, uint32_t size) override {
    writes.push_back({tag, address, std::vector<uint8_t>(data, data + size)});
    if (writeFails.count(address)) return KVXR_UPDATE_DEVICE_ERROR;
    Put(address, writes.back().data);
    return 1;
  }
  std::map<uint32_t, uint8_t> bytes_;
  std::map<uint32_t, bool> readFails, writeFails;
  uint32_t readFailSize = 0;  // 0: every read at the address fails
  std::vector<uint32_t> reads;
  std::vector<WriteSeen> writes;
};

std::map<std::string, std::string> Entries(DeviceLog& log) {
  picojson::value v;
  std::string err = picojson::parse(v, log.Json());
  EXPECT_TRUE(err.empty()) << err;
  std::map<std::string, std::string> out;
  for (const auto& [k, e] : v.get<picojson::object>()) out[k] = e.get<std::string>();
  return out;
}

const uint8_t kId[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

class Migration : public ::testing::Test {
 protected:
  void SetUp() override {
    calibration_.resize(kCalibrationSize);
    for (size_t i = 0; i < calibration_.size(); ++i) calibration_[i] = static_cast<uint8_t>(0xC0 + i);
    mem_.Put(kProductDataAddress, calibration_);
  }
  void PutValidRecord() {
    auto old = OldBlock("KV1R", "QS1");
    std::vector<uint8_t> rec(kProductRecordSize);
    ASSERT_TRUE(BuildProductRecord(old.data(), old.size(), rec.data(), rec.size(), nullptr));
    mem_.Put(kProductRecordAddress, rec);
  }
  FakeMemory mem_;
  DeviceLog log_{kId};
  std::vector<uint8_t> calibration_;
};

TEST_F(Migration, AValidRecordIsLeftUntouched) {
  PutValidRecord();
  auto before = mem_.Get(kProductRecordAddress, kProductRecordSize);
  EXPECT_EQ(MigrateProductData(mem_, log_), 0);
  EXPECT_TRUE(mem_.writes.empty());
  auto e = Entries(log_);
  EXPECT_EQ(e.size(), 2u);
  EXPECT_EQ(e["calibration-data"], bytes::HexText(calibration_.data(), calibration_.size()));
  EXPECT_EQ(e["product-data"], bytes::HexText(before.data(), before.size()));
  // The old area is not even read.
  for (uint32_t a : mem_.reads) EXPECT_NE(a, kOldConfigAddress);
}

TEST_F(Migration, AnInvalidRecordIsRebuiltFromTheOldBlockAndLogged) {
  const std::string serial = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";  // 40: the record keeps 24
  auto old = OldBlock("KV3R", serial);
  mem_.Put(kOldConfigAddress, old);
  EXPECT_EQ(MigrateProductData(mem_, log_), 1);
  ASSERT_EQ(mem_.writes.size(), 2u);
  EXPECT_EQ(mem_.writes[0].tag, WriteTag::Firmware);
  EXPECT_EQ(mem_.writes[0].address, kConfigBlockAddress);
  EXPECT_EQ(mem_.writes[0].data.size(), kConfigBlockSize);
  EXPECT_EQ(mem_.writes[1].tag, WriteTag::ProductData);
  EXPECT_EQ(mem_.writes[1].address, kProductRecordAddress);
  ASSERT_EQ(mem_.writes[1].data.size(), kProductRecordSize);
  auto rec = mem_.Get(kProductRecordAddress, kProductRecordSize);
  EXPECT_TRUE(ProductRecordValid(rec.data(), rec.size()));
  RecordItem it;
  ASSERT_TRUE(ProductRecordItem(rec.data(), rec.size(), 3, &it));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(it.data), it.length), serial.substr(0, 24));
  // The calibration bytes stay as they were.
  EXPECT_EQ(mem_.Get(kProductDataAddress, kCalibrationSize), calibration_);

  auto e = Entries(log_);
  EXPECT_EQ(e.size(), 5u);
  EXPECT_EQ(e["calibration-data"].size(), 64u);
  EXPECT_EQ(e["product-data"], std::string(960, 'F'));
  EXPECT_EQ(e["obsolete-config-area"], bytes::HexText(old.data(), 256));
  EXPECT_EQ(e["migrated-config-area"], bytes::HexText(mem_.writes[0].data.data(), kConfigBlockSize));
  EXPECT_EQ(e["migrated-product-data"], bytes::HexText(rec.data(), rec.size()));

  // The next update finds the record valid.
  DeviceLog again(kId);
  mem_.writes.clear();
  EXPECT_EQ(MigrateProductData(mem_, again), 0);
  EXPECT_TRUE(mem_.writes.empty());
}

TEST_F(Migration, AnOldBlockThatFailsItsCheckEndsWithoutWriting) {
  auto old = OldBlock("QX1R", "QS9");
  mem_.Put(kOldConfigAddress, old);
  EXPECT_EQ(MigrateProductData(mem_, log_), KVXR_UPDATE_PRODUCT_DATA_CHECK);
  EXPECT_TRUE(mem_.writes.empty());
  auto e = Entries(log_);
  EXPECT_EQ(e["obsolete-config-area"], bytes::HexText(old.data(), 64));
  EXPECT_EQ(e.count("migrated-product-data"), 0u);
  // All erased: the same.
  FakeMemory blank;
  DeviceLog log2(kId);
  EXPECT_EQ(MigrateProductData(blank, log2), KVXR_UPDATE_PRODUCT_DATA_CHECK);
  EXPECT_TRUE(blank.writes.empty());
}

TEST_F(Migration, ReadFailuresGiveTheirEntryAndMinus27) {
  mem_.Put(kOldConfigAddress, OldBlock("KV1R", "QS1"));
  // Only the calibration read fails: its entry is skipped and the step goes on.
  mem_.readFails[kProductDataAddress] = true;
  mem_.readFailSize = kCalibrationSize;
  EXPECT_EQ(MigrateProductData(mem_, log_), 1);
  auto e = Entries(log_);
  EXPECT_EQ(e.count("calibration-data"), 0u);
  EXPECT_EQ(e.count("migrated-product-data"), 1u);

  FakeMemory area;
  area.readFails[kProductDataAddress] = true;
  DeviceLog l2(kId);
  EXPECT_EQ(MigrateProductData(area, l2), KVXR_UPDATE_PRODUCT_DATA_READ);
  auto e2 = Entries(l2);
  EXPECT_EQ(e2["product-data"], "read-error");
  EXPECT_EQ(e2.size(), 1u);
  EXPECT_TRUE(area.writes.empty());

  FakeMemory oldArea;
  oldArea.readFails[kOldConfigAddress] = true;
  DeviceLog l3(kId);
  EXPECT_EQ(MigrateProductData(oldArea, l3), KVXR_UPDATE_PRODUCT_DATA_READ);
  EXPECT_EQ(Entries(l3)["obsolete-config-area"], "read-error");
  EXPECT_TRUE(oldArea.writes.empty());
}

TEST_F(Migration, WriteFailuresGiveTheirEntryAndMinus28) {
  mem_.Put(kOldConfigAddress, OldBlock("KV1R", "QS1"));
  mem_.writeFails[kConfigBlockAddress] = true;
  EXPECT_EQ(MigrateProductData(mem_, log_), KVXR_UPDATE_PRODUCT_DATA_MIGRATION);
  auto e = Entries(log_);
  EXPECT_EQ(e["migrated-config-area"], "write-error");
  EXPECT_EQ(e.count("migrated-product-data"), 0u);
  ASSERT_EQ(mem_.writes.size(), 1u);  // the record is not written after a failed block

  FakeMemory rec;
  rec.Put(kOldConfigAddress, OldBlock("KV1R", "QS1"));
  rec.writeFails[kProductRecordAddress] = true;
  DeviceLog l2(kId);
  EXPECT_EQ(MigrateProductData(rec, l2), KVXR_UPDATE_PRODUCT_DATA_MIGRATION);
  auto e2 = Entries(l2);
  EXPECT_EQ(e2["migrated-config-area"].size(), 2 * kConfigBlockSize);
  EXPECT_EQ(e2["migrated-product-data"], "write-error");
}

}  // namespace
}  // namespace qs::fw
