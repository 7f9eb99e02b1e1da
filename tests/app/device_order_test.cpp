// Row order of the device list, the same-device rule and the selection rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/logic/device_order.h"

using namespace qs::app;

namespace {
uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return (a << 24) | (b << 16) | (c << 8) | d; }
DeviceKey Key(int32_t model, uint32_t address, uint8_t tag = 0) {
  DeviceKey k;
  k.modelId = model;
  k.address = address;
  k.mac[5] = tag;
  k.hardwareId[15] = tag;
  return k;
}
// Inserts like the list does, one report at a time.
std::vector<DeviceKey> InsertAll(const std::vector<DeviceKey>& reports) {
  std::vector<DeviceKey> rows;
  for (const auto& r : reports) rows.insert(rows.begin() + static_cast<long>(InsertPosition(rows, r)), r);
  return rows;
}
}  // namespace

TEST(DeviceOrderTest, SameModelEqualLastOctetSortsByWholeAddress) {
  auto rows = InsertAll({Key(4, Ip(192, 168, 1, 5), 1), Key(4, Ip(10, 0, 0, 5), 2)});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].address, Ip(10, 0, 0, 5));
  EXPECT_EQ(rows[1].address, Ip(192, 168, 1, 5));
}

TEST(DeviceOrderTest, KvxrModelsInterleaveByAddressAndOthersGoAroundThem) {
  auto rows = InsertAll({Key(12, Ip(10, 71, 0, 30), 1), Key(15, Ip(10, 71, 0, 1), 2), Key(14, Ip(10, 71, 0, 10), 3),
                         Key(13, Ip(10, 71, 0, 20), 4), Key(11, Ip(10, 71, 0, 99), 5), Key(4, Ip(10, 71, 0, 200), 6)});
  std::vector<int32_t> models;
  for (auto& r : rows) models.push_back(r.modelId);
  EXPECT_EQ(models, (std::vector<int32_t>{4, 11, 14, 13, 12, 15}));
}

TEST(DeviceOrderTest, LastOctetBeatsWholeAddressWithinAGroup) {
  // 10.0.0.9 has the smaller last octet than 1.0.0.10 although its address is larger.
  auto rows = InsertAll({Key(13, Ip(1, 0, 0, 10), 1), Key(12, Ip(10, 0, 0, 9), 2)});
  EXPECT_EQ(rows[0].address, Ip(10, 0, 0, 9));
}

TEST(DeviceOrderTest, EqualKeysGoBeforeTheExistingRow) {
  std::vector<DeviceKey> rows = {Key(4, Ip(10, 0, 0, 5), 1)};
  EXPECT_EQ(InsertPosition(rows, Key(4, Ip(10, 0, 0, 5), 2)), 0u);
  EXPECT_EQ(InsertPosition({}, Key(4, 1)), 0u);
}

TEST(DeviceOrderTest, OrderIsIndependentOfArrival) {
  std::vector<DeviceKey> reports = {Key(12, Ip(10, 71, 0, 30), 1), Key(5, Ip(10, 72, 0, 7), 2),
                                    Key(13, Ip(10, 72, 0, 30), 3), Key(10, Ip(10, 71, 0, 7), 4),
                                    Key(14, Ip(10, 71, 0, 2), 5)};
  auto first = InsertAll(reports);
  std::sort(reports.begin(), reports.end(), [](const DeviceKey& a, const DeviceKey& b) { return a.mac[5] > b.mac[5]; });
  auto second = InsertAll(reports);
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].mac[5], second[i].mac[5]) << i;
}

TEST(DeviceOrderTest, SameDeviceUsesHardwareIdForKvxrAndMacForOthers) {
  DeviceKey a = Key(12, Ip(10, 0, 0, 1), 1), b = Key(12, Ip(10, 0, 0, 2), 1);
  EXPECT_TRUE(SameDevice(a, b)) << "an address change keeps the device";
  b.mac[0] = 0x55;  // a KV-xR device is its hardware id, not its MAC
  EXPECT_TRUE(SameDevice(a, b));
  b.hardwareId[0] = 1;
  EXPECT_FALSE(SameDevice(a, b));

  DeviceKey r1 = Key(4, Ip(10, 0, 0, 1), 1), r2 = Key(4, Ip(10, 0, 0, 1), 1);
  r2.hardwareId[3] = 9;
  EXPECT_TRUE(SameDevice(r1, r2));
  r2.mac[0] = 1;
  EXPECT_FALSE(SameDevice(r1, r2));

  // Two KV-xR models are different devices even with equal identifiers.
  EXPECT_FALSE(SameDevice(Key(12, 1, 1), Key(13, 1, 1)));
}

TEST(DeviceOrderTest, AddressColumnAndPages) {
  EXPECT_EQ(LastOctetText(Ip(192, 168, 1, 23)), u".23");
  EXPECT_EQ(LastOctetText(0), u".0");
  EXPECT_EQ(LastOctetText(Ip(1, 2, 3, 255)), u".255");
  for (int id : {4, 5, 10, 11}) EXPECT_EQ(PageFor(id), PageKind::FirstFamily) << id;
  for (int id : {12, 13, 14}) EXPECT_EQ(PageFor(id), PageKind::Kvxr) << id;
  for (int id : {0, 1, 2, 3, 6, 7, 8, 9, 15, -1}) EXPECT_EQ(PageFor(id), PageKind::None) << id;
}

TEST(DeviceOrderTest, ReselectionAfterRefresh) {
  EXPECT_TRUE(ShouldSelect(true, true, 2999, false));
  EXPECT_FALSE(ShouldSelect(true, true, 3000, false)) << "too late";
  EXPECT_FALSE(ShouldSelect(true, false, 10, false)) << "another device";
  EXPECT_TRUE(ShouldSelect(true, false, 10, true)) << "first row of an empty list";
  EXPECT_TRUE(ShouldSelect(false, false, 0, true));
  EXPECT_FALSE(ShouldSelect(false, false, 0, false));
}

TEST(DeviceOrderTest, PageAfterRemoval) {
  EXPECT_EQ(RowAfterRemoval(0, 2), 0);
  EXPECT_EQ(RowAfterRemoval(2, 2), 1) << "last row removed: step back";
  EXPECT_EQ(RowAfterRemoval(0, 0), -1);
}
