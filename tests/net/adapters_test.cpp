#include <gtest/gtest.h>

#include <vector>

#include "net/adapters.h"

namespace qs::net {
namespace {

using plat::IfQuery;
using plat::RawInterface;

// A machine that the query plays: its interfaces and the rooms it was asked for.
std::vector<RawInterface> g_machine;
std::vector<size_t> g_rooms;
bool g_fail = false;

IfQuery FakeQuery(size_t room, std::vector<RawInterface>& out) {
  g_rooms.push_back(room);
  out.clear();
  if (g_fail) return IfQuery::Failed;
  if (g_machine.size() > room) return IfQuery::TooSmall;
  out = g_machine;
  return IfQuery::Ok;
}

RawInterface If(uint32_t a, uint32_t m, uint32_t flags = plat::kIfUp | plat::kIfBroadcast) {
  RawInterface r;
  r.address = a;
  r.netmask = m;
  r.flags = flags;
  return r;
}

class Adapters : public ::testing::Test {
 protected:
  void SetUp() override {
    g_machine.clear();
    g_rooms.clear();
    g_fail = false;
  }
};

void Collect(uint32_t a, uint32_t m, void* ctx) {
  static_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(ctx)->push_back({a, m});
}

TEST_F(Adapters, ThreeInterfacesNeedRoomsOneTwoFour) {
  g_machine = {If(0x0A000001, 0xFFFFFF00), If(0x0A010001, 0xFFFF0000), If(0xC0A80105, 0xFFFFFF00)};
  InterfaceList list(false, FakeQuery);
  ASSERT_TRUE(list.Build());
  EXPECT_EQ(g_rooms, (std::vector<size_t>{1, 2, 4}));
  EXPECT_EQ(list.entries().size(), 3u);
  // Built once, then reused.
  ASSERT_TRUE(list.Build());
  EXPECT_EQ(g_rooms.size(), 3u);
}

TEST_F(Adapters, VisitGrowsItsRoomSoManyAdaptersAreAllVisited) {
  for (uint32_t i = 0; i < 45; ++i) g_machine.push_back(If(0x0A000001 + (i << 8), 0xFFFFFF00));
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  EXPECT_EQ(VisitInterfaces(Collect, &seen, FakeQuery), 45u);
  ASSERT_EQ(seen.size(), 45u);
  EXPECT_EQ(seen.front().first, 0x0A000001u);
  EXPECT_EQ(seen.back().first, 0x0A000001u + (44u << 8));
}

TEST_F(Adapters, LoopbackAndDownInterfacesAreNeverUsed) {
  g_machine = {If(0x7F000001, 0xFF000000, plat::kIfUp | plat::kIfLoopback), If(0x0A000005, 0xFFFFFF00, 0),
               If(0x0A470001, 0xFFFFF000)};
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  VisitInterfaces(Collect, &seen, FakeQuery);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, 0x0A470001u);
  EXPECT_FALSE(IsLocalAddress(0x0A000077, FakeQuery));  // the down one's subnet
  EXPECT_FALSE(IsLocalAddress(0x7F000002, FakeQuery));
}

TEST_F(Adapters, OnlyLoopbackMeansNothingIsLocal) {
  g_machine = {If(0x7F000001, 0xFF000000, plat::kIfUp | plat::kIfLoopback)};
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  EXPECT_EQ(VisitInterfaces(Collect, &seen, FakeQuery), 0u);
  EXPECT_FALSE(IsLocalAddress(0x7F000001, FakeQuery));
  EXPECT_FALSE(IsLocalAddress(0xC0A80101, FakeQuery));
}

TEST_F(Adapters, IsLocalAddressComparesSubnets) {
  g_machine = {If(0xC0A80105, 0xFFFFFF00)};  // 192.168.1.5/24
  EXPECT_TRUE(IsLocalAddress(0xC0A8014D, FakeQuery));   // 192.168.1.77
  g_machine = {If(0xC0A80205, 0xFFFFFF00)};  // 192.168.2.5/24
  EXPECT_FALSE(IsLocalAddress(0xC0A8014D, FakeQuery));
}

TEST_F(Adapters, NetmaskForTakesTheFirstInterfaceOfTheSubnet) {
  g_machine = {If(0x0A000001, 0xFF000000), If(0x0A000002, 0xFFFF0000), If(0xC0A80105, 0xFFFFFF00)};
  InterfaceList list(false, FakeQuery);
  EXPECT_EQ(NetmaskFor(list, 0x0A0A0A0A), 0xFF000000u);
  EXPECT_EQ(NetmaskFor(list, 0xC0A801FE), 0xFFFFFF00u);
  EXPECT_EQ(NetmaskFor(list, 0xAC100001), 0u);
  // Asking again rewinds: the same answer, the list not rebuilt.
  size_t queries = g_rooms.size();
  EXPECT_EQ(NetmaskFor(list, 0x0A0A0A0A), 0xFF000000u);
  EXPECT_EQ(g_rooms.size(), queries);
}

TEST_F(Adapters, FailedQueryMeansNothingVisitedAndNoList) {
  g_machine = {If(0x0A000001, 0xFFFFFF00)};
  g_fail = true;
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  EXPECT_EQ(VisitInterfaces(Collect, &seen, FakeQuery), 0u);
  InterfaceList list(false, FakeQuery);
  InterfaceEntry e;
  EXPECT_FALSE(list.Next(e));
  EXPECT_FALSE(IsLocalAddress(0x0A000001, FakeQuery));
}

TEST_F(Adapters, CursorHandsOutEntriesInOrderAndRewinds) {
  g_machine = {If(0x0A000001, 0xFFFFFF00), If(0x0A000101, 0xFFFFFF00)};
  InterfaceList list(false, FakeQuery);
  InterfaceEntry e;
  ASSERT_TRUE(list.Next(e));
  EXPECT_EQ(e.address, 0x0A000001u);
  ASSERT_TRUE(list.Next(e));
  EXPECT_EQ(e.address, 0x0A000101u);
  EXPECT_FALSE(list.Next(e));
  list.Rewind();
  ASSERT_TRUE(list.Next(e));
  EXPECT_EQ(e.address, 0x0A000001u);
}

TEST(DirectedBroadcast, FillsTheHostBits) {
  EXPECT_EQ(DirectedBroadcast(0x0A470001, 0xFFFFF000), 0x0A470FFFu);
  EXPECT_EQ(DirectedBroadcast(0xC0A80105, 0xFFFFFF00), 0xC0A801FFu);
}

}  // namespace
}  // namespace qs::net
