// The RAM-program streamer in a test network: what goes out on the group
// (received here through the multicast loop), how devices are grouped, and
// how streamers are shared and stopped per adapter.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "firmware/stream_block.h"
#include "firmware/streamer.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "tests/support/memory_image.h"
#include "tests/support/sim_client.h"

namespace qs::fw {
namespace {

using test::TestNet;

plat::SocketsLibrary g_sockets;

// The delivered program's size: 209 blocks of 512 bytes and one of 396.
const std::vector<uint8_t> g_program = test::Filled(107404, 3);

DeviceId Id(uint8_t n) {
  DeviceId id{};
  id.fill(n);
  return id;
}

net::AdapterRecord AdapterA() { return net::AdapterRecord{TestNet::PcA(), TestNet::Mask(), 0}; }
net::AdapterRecord AdapterB() { return net::AdapterRecord{TestNet::PcB(), TestNet::Mask(), 0}; }

// Datagrams of the group heard on the adapter's address within ms, or until
// enough() says so: a loaded machine paces slower, and what is checked is
// what was sent, not how fast.
struct Heard {
  std::vector<std::vector<uint8_t>> datagrams;
  uint32_t elapsedMs = 0;
};

template <class Enough>
Heard Listen(uint32_t adapter, uint32_t ms, Enough enough) {
  Heard h;
  plat::UdpSocket s;
  EXPECT_TRUE(s.Open());
  EXPECT_TRUE(s.Bind(adapter, kStreamPort));
  EXPECT_TRUE(s.JoinGroup(kStreamGroupAddress, adapter));
  s.SetReceiveBuffer(4 << 20);
  const uint32_t t0 = plat::TickCount();
  uint8_t buf[2048];
  while (plat::TicksSince(t0) < ms) {
    plat::SockAddr from;
    int n = s.RecvFromTimeout(buf, sizeof buf, &from, 50);
    if (n > 0) h.datagrams.emplace_back(buf, buf + n);
    if (enough(h)) break;
  }
  h.elapsedMs = plat::TicksSince(t0);
  return h;
}

Heard Listen(uint32_t adapter, uint32_t ms) {
  return Listen(adapter, ms, [](const Heard&) { return false; });
}

// Blocks seen at least `times` times.
size_t BlocksSeen(const Heard& h, size_t times) {
  std::map<uint16_t, size_t> n;
  size_t full = 0;
  for (const auto& d : h.datagrams) {
    StreamDatagramView v;
    if (ParseStreamDatagram(d.data(), d.size(), v) && ++n[v.block] == times) ++full;
  }
  return full;
}

class Streaming : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TestNet::Available());
    program_.data = g_program.data();
    program_.size = g_program.size();
  }
  ProgramBytes program_;
};

TEST_F(Streaming, AFullCycleCarriesTheProgramIn210BlocksTheLastOf396Bytes) {
  Ref<IStreamingProgrammer> holder;
  ASSERT_TRUE(RegisterForStreaming(AdapterA(), nullptr, kStreamLifetimeForever, program_, &holder));
  // Two cycles of 1.05 s, each block twice; more time on a loaded machine.
  Heard h = Listen(TestNet::PcA(), 10000, [](const Heard& x) {
    return x.datagrams.size() % 50 == 0 && BlocksSeen(x, 2) == 210;
  });
  std::map<uint16_t, std::vector<uint8_t>> blocks;
  std::set<std::vector<uint8_t>> ids;
  for (const auto& d : h.datagrams) {
    StreamDatagramView v;
    ASSERT_TRUE(ParseStreamDatagram(d.data(), d.size(), v));
    EXPECT_EQ(v.deviceCount, 0u);  // nobody named: each block once per cycle
    blocks[v.block].assign(v.bytes, v.bytes + v.length);
    ids.insert(std::vector<uint8_t>(v.datagramId, v.datagramId + 16));
  }
  ASSERT_EQ(blocks.size(), 210u);
  EXPECT_EQ(blocks.rbegin()->first, 209);
  EXPECT_EQ(blocks.rbegin()->second.size(), 396u);
  std::vector<uint8_t> joined;
  for (auto& b : blocks) joined.insert(joined.end(), b.second.begin(), b.second.end());
  EXPECT_EQ(joined, g_program);
  // One datagram every 5 ms at the most: never a burst.
  EXPECT_LE(h.datagrams.size(), h.elapsedMs / 5 + 20) << h.elapsedMs << " ms";
  // Datagrams are built once per change of the device list: two cycles, 210 identifiers.
  EXPECT_EQ(ids.size(), 210u);
}

TEST_F(Streaming, SeventeenDevicesTakeTwoDatagramsPerBlockAndJobsShareTheAdaptersStreamer) {
  std::vector<Ref<IStreamingProgrammer>> holders(17);
  for (uint8_t i = 0; i < 17; ++i) {
    DeviceId id = Id(static_cast<uint8_t>(i + 1));
    ASSERT_TRUE(RegisterForStreaming(AdapterA(), &id, 60000, program_, &holders[i]));
  }
  EXPECT_EQ(StreamerCount(), 1u);
  for (const auto& h : holders) EXPECT_EQ(StreamerOf(h.get()), StreamerOf(holders[0].get()));
  // One cycle is 420 datagrams, 2.1 s; more time on a loaded machine.
  Heard h = Listen(TestNet::PcA(), 10000, [](const Heard& x) {
    return x.datagrams.size() % 50 == 0 && BlocksSeen(x, 2) == 210;
  });
  std::map<uint16_t, std::vector<size_t>> perBlock;
  for (const auto& d : h.datagrams) {
    StreamDatagramView v;
    ASSERT_TRUE(ParseStreamDatagram(d.data(), d.size(), v));
    if (perBlock[v.block].size() < 2) perBlock[v.block].push_back(v.deviceCount);
    if (v.deviceCount == 1) {
      EXPECT_EQ(v.devices[0], 17);  // the last added, in the second group
    }
  }
  EXPECT_EQ(perBlock.size(), 210u);
  size_t both = 0;
  for (auto& b : perBlock) {
    const auto& n = b.second;
    if (n.size() == 2 && ((n[0] == 16 && n[1] == 1) || (n[0] == 1 && n[1] == 16))) ++both;
  }
  EXPECT_GE(both, 200u);

  // Another adapter has a streamer of its own.
  Ref<IStreamingProgrammer> other;
  DeviceId id = Id(99);
  ASSERT_TRUE(RegisterForStreaming(AdapterB(), &id, 60000, program_, &other));
  EXPECT_EQ(StreamerCount(), 2u);
  EXPECT_NE(StreamerOf(other.get()), StreamerOf(holders[0].get()));
  other.reset();
  EXPECT_EQ(StreamerCount(), 1u);

  // When every job has let go the streamer stops; the next job gets a new one.
  IStreamingProgrammerEx* first = StreamerOf(holders[0].get());
  uint64_t sent = first->SentCount();
  holders.clear();
  EXPECT_EQ(StreamerCount(), 0u);
  Ref<IStreamingProgrammer> again;
  ASSERT_TRUE(RegisterForStreaming(AdapterA(), &id, 60000, program_, &again));
  EXPECT_EQ(StreamerCount(), 1u);
  EXPECT_GT(sent, 400u);
  EXPECT_LT(StreamerOf(again.get())->SentCount(), 50u);  // a fresh streamer
}

TEST_F(Streaming, ADeviceAddedWhileStreamingIsNamedFromTheNextSend) {
  Ref<IStreamingProgrammer> a;
  ASSERT_TRUE(RegisterForStreaming(AdapterA(), nullptr, 60000, program_, &a));
  plat::SleepMs(200);
  DeviceId id = Id(7);
  Ref<IStreamingProgrammer> b;
  ASSERT_TRUE(RegisterForStreaming(AdapterA(), &id, 60000, program_, &b));
  Heard h = Listen(TestNet::PcA(), 300);
  ASSERT_FALSE(h.datagrams.empty());
  for (const auto& d : h.datagrams) {
    StreamDatagramView v;
    ASSERT_TRUE(ParseStreamDatagram(d.data(), d.size(), v));
    EXPECT_EQ(v.deviceCount, 1u);
  }
}

TEST_F(Streaming, AStreamerWhoseLifetimeHasPassedSendsNothingMore) {
  Ref<IStreamingProgrammer> a;
  ASSERT_TRUE(RegisterForStreaming(AdapterA(), nullptr, 300, program_, &a));
  plat::SleepMs(400);
  uint64_t sent = StreamerOf(a.get())->SentCount();
  EXPECT_GT(sent, 30u);
  EXPECT_LT(sent, 70u);
  Heard h = Listen(TestNet::PcA(), 300);
  EXPECT_TRUE(h.datagrams.empty());
  EXPECT_EQ(StreamerCount(), 1u);  // still listed while held
}

TEST_F(Streaming, AJobThatJoinsAfterTheLifetimeHasPassedGetsTheStreamForItsOwnLifetime) {
  // A batch keeps the adapter's streamer held by one job or another long
  // past the first job's lifetime: each later job's device still needs the
  // stream while that job waits for it.
  Ref<IStreamingProgrammer> first;
  ASSERT_TRUE(RegisterForStreaming(AdapterA(), nullptr, 300, program_, &first));
  plat::SleepMs(400);
  EXPECT_TRUE(Listen(TestNet::PcA(), 200).datagrams.empty());
  const uint64_t before = StreamerOf(first.get())->SentCount();
  Ref<IStreamingProgrammer> late;
  DeviceId id = Id(5);
  ASSERT_TRUE(RegisterForStreaming(AdapterA(), &id, 600, program_, &late));
  EXPECT_EQ(StreamerCount(), 1u);  // the same streamer, not a second stream
  EXPECT_EQ(StreamerOf(late.get()), StreamerOf(first.get()));
  Heard h = Listen(TestNet::PcA(), 300);
  ASSERT_GT(h.datagrams.size(), 30u);
  EXPECT_LT(h.datagrams.size(), 80u);  // still one datagram every 5 ms
  for (const auto& d : h.datagrams) {
    StreamDatagramView v;
    ASSERT_TRUE(ParseStreamDatagram(d.data(), d.size(), v));
    ASSERT_EQ(v.deviceCount, 1u);
    EXPECT_EQ(v.devices[0], 5);
  }
  plat::SleepMs(500);  // its 600 ms have passed too
  EXPECT_TRUE(Listen(TestNet::PcA(), 200).datagrams.empty());
  const uint64_t sent = StreamerOf(late.get())->SentCount() - before;
  EXPECT_GT(sent, 90u);
  EXPECT_LT(sent, 140u);
}

}  // namespace
}  // namespace qs::fw
