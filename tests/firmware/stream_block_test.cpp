// The streamed RAM program: one datagram written out by hand, the cycle of a
// program of the delivered size for 0, 1, 16 and 17 devices, and the pacing
// of the stream on its 5 ms grid under a played clock.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "firmware/stream_block.h"
#include "firmware/stream_pacer.h"

namespace qs::fw {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kDelivered = 107404;

Bytes Program(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  return b;
}

uint32_t g_idCounter = 0;
bool CountingId(uint8_t out[16]) {
  std::memset(out, 0, 16);
  ++g_idCounter;
  std::memcpy(out, &g_idCounter, 4);
  return true;
}
bool FailingId(uint8_t*) { return false; }

DeviceId Device(uint8_t v) {
  DeviceId d;
  d.fill(v);
  return d;
}

TEST(StreamBlock, ADatagramFollowsTheLayout) {
  const uint8_t id[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                          0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};
  const DeviceId devices[2] = {Device(0x11), Device(0x22)};
  const uint8_t bytes[3] = {0xC1, 0xC2, 0xC3};
  Bytes d;
  ASSERT_TRUE(BuildStreamDatagram(id, devices, 2, 0x0102, bytes, 3, d));
  Bytes want(id, id + 16);
  want.insert(want.end(), {0x01, 0x00, 0x02, 0x00});
  want.insert(want.end(), 16, 0x11);
  want.insert(want.end(), 16, 0x22);
  want.insert(want.end(), {0x02, 0x01, 0x03, 0x00, 0xC1, 0xC2, 0xC3});
  want.insert(want.end(), 20, 0x00);
  EXPECT_EQ(d, want);

  StreamDatagramView v;
  ASSERT_TRUE(ParseStreamDatagram(d.data(), d.size(), v));
  EXPECT_EQ(v.deviceCount, 2u);
  EXPECT_EQ(v.devices[16], 0x22);
  EXPECT_EQ(v.block, 0x0102);
  EXPECT_EQ(v.length, 3u);
  EXPECT_EQ(v.bytes[2], 0xC3);

  // Out of range: 17 identifiers, an empty or over-long block.
  const DeviceId many[17] = {};
  Bytes big(513);
  EXPECT_FALSE(BuildStreamDatagram(id, many, 17, 0, bytes, 3, d));
  EXPECT_FALSE(BuildStreamDatagram(id, devices, 2, 0, bytes, 0, d));
  EXPECT_FALSE(BuildStreamDatagram(id, devices, 2, 0, big.data(), 513, d));
  EXPECT_TRUE(BuildStreamDatagram(id, many, 16, 0, big.data(), 512, d));
  EXPECT_EQ(d.size(), kStreamMaxDatagram);
}

TEST(StreamBlock, TheReceiverRefusesDatagramsThatBreakTheLayout) {
  const uint8_t id[16] = {};
  const DeviceId one[1] = {Device(1)};
  const Bytes bytes(100, 7);
  Bytes good;
  ASSERT_TRUE(BuildStreamDatagram(id, one, 1, 5, bytes.data(), bytes.size(), good));
  StreamDatagramView v;
  ASSERT_TRUE(ParseStreamDatagram(good.data(), good.size(), v));

  Bytes b = good;
  b[16] = 2;  // format word
  EXPECT_FALSE(ParseStreamDatagram(b.data(), b.size(), v));
  b = good;
  b[18] = 17;  // too many identifiers
  EXPECT_FALSE(ParseStreamDatagram(b.data(), b.size(), v));
  b = good;
  b[18] = 0;  // the count no longer matches the length
  EXPECT_FALSE(ParseStreamDatagram(b.data(), b.size(), v));
  b = good;
  b.push_back(0);  // one byte too many
  EXPECT_FALSE(ParseStreamDatagram(b.data(), b.size(), v));
  EXPECT_FALSE(ParseStreamDatagram(good.data(), good.size() - 1, v));
  b = good;
  b[20 + 16 + 2] = 0;  // L = 0
  b[20 + 16 + 3] = 0;
  EXPECT_FALSE(ParseStreamDatagram(b.data(), b.size() - 100, v));
  for (size_t n = 0; n < 45; ++n) EXPECT_FALSE(ParseStreamDatagram(good.data(), n, v)) << n;
}

struct CycleShape {
  size_t datagrams;
  std::vector<size_t> counts;  // identifiers per datagram of block 0
  size_t lastLength;
  uint16_t lastBlock;
};

CycleShape Shape(const std::vector<std::vector<uint8_t>>& cycle, const Bytes& program, size_t groups) {
  CycleShape s{cycle.size(), {}, 0, 0};
  std::set<Bytes> ids;
  for (size_t i = 0; i < cycle.size(); ++i) {
    StreamDatagramView v;
    EXPECT_TRUE(ParseStreamDatagram(cycle[i].data(), cycle[i].size(), v)) << i;
    // Block order: every datagram of block 0 first, then block 1, ...
    EXPECT_EQ(v.block, i / groups) << i;
    EXPECT_EQ(std::memcmp(v.bytes, program.data() + size_t{v.block} * 512, v.length), 0) << i;
    if (v.block == 0) s.counts.push_back(v.deviceCount);
    s.lastLength = v.length;
    s.lastBlock = v.block;
    ids.insert(Bytes(v.datagramId, v.datagramId + 16));
  }
  EXPECT_EQ(ids.size(), cycle.size()) << "every datagram has its own identifier";
  return s;
}

TEST(StreamBlock, TheDeliveredProgramMakes210BlocksTheLastOf396Bytes) {
  const Bytes program = Program(kDelivered);
  EXPECT_EQ(StreamBlockCount(kDelivered), 210u);
  std::vector<std::vector<uint8_t>> cycle;

  ASSERT_TRUE(BuildStreamCycle(program.data(), program.size(), {}, cycle, CountingId));
  CycleShape s = Shape(cycle, program, 1);
  EXPECT_EQ(s.datagrams, 210u);
  EXPECT_EQ(s.counts, std::vector<size_t>{0});
  EXPECT_EQ(s.lastBlock, 209);
  EXPECT_EQ(s.lastLength, 396u);

  std::vector<DeviceId> devices;
  for (uint8_t i = 1; i <= 16; ++i) devices.push_back(Device(i));
  ASSERT_TRUE(BuildStreamCycle(program.data(), program.size(), devices, cycle, CountingId));
  s = Shape(cycle, program, 1);
  EXPECT_EQ(s.datagrams, 210u);
  EXPECT_EQ(s.counts, std::vector<size_t>{16});

  devices.push_back(Device(17));
  ASSERT_TRUE(BuildStreamCycle(program.data(), program.size(), devices, cycle, CountingId));
  s = Shape(cycle, program, 2);
  EXPECT_EQ(s.datagrams, 420u);
  EXPECT_EQ(s.counts, (std::vector<size_t>{16, 1}));
  // The second datagram of a block names the 17th device, the first the 1st to 16th in order.
  StreamDatagramView v;
  ASSERT_TRUE(ParseStreamDatagram(cycle[3].data(), cycle[3].size(), v));
  EXPECT_EQ(v.block, 1);
  EXPECT_EQ(v.devices[0], 17);
  ASSERT_TRUE(ParseStreamDatagram(cycle[2].data(), cycle[2].size(), v));
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(v.devices[16 * i], i + 1);
}

TEST(StreamBlock, EdgesOfTheCycle) {
  std::vector<std::vector<uint8_t>> cycle{{1}};
  EXPECT_TRUE(BuildStreamCycle(nullptr, 0, {}, cycle, CountingId));
  EXPECT_TRUE(cycle.empty());  // an empty program sends nothing

  const Bytes exact = Program(1024);
  ASSERT_TRUE(BuildStreamCycle(exact.data(), exact.size(), {}, cycle, CountingId));
  EXPECT_EQ(cycle.size(), 2u);  // no empty block on the stream

  const Bytes program = Program(1000);
  EXPECT_FALSE(BuildStreamCycle(program.data(), program.size(), {}, cycle, FailingId));
  EXPECT_TRUE(cycle.empty());

  const Bytes huge(kStreamMaxBlocks * kStreamBlockSize + 1);
  EXPECT_FALSE(BuildStreamCycle(huge.data(), huge.size(), {}, cycle, CountingId));
}

// Plays the streaming thread's loop on a clock that the test moves.
struct PlayedStream {
  StreamPacer pacer;
  uint32_t now;
  std::vector<std::pair<uint32_t, size_t>> sends;  // tick, position
  PlayedStream(uint32_t start, uint32_t lifetime, size_t length) : pacer(start, lifetime), now(start) {
    pacer.SetCycleLength(length);
  }
  // Runs until the clock reaches `until` or the lifetime ends; late models a
  // thread that wakes up later than asked.
  bool RunUntil(uint32_t until, uint32_t late = 0) {
    while (static_cast<int32_t>(until - now) > 0) {
      const StreamPacer::Decision d = pacer.Next(now);
      if (d.kind == StreamPacer::Kind::Expired) return false;
      if (d.kind == StreamPacer::Kind::Wait) {
        EXPECT_GE(d.waitMs, 1u);
        EXPECT_LE(d.waitMs, 5u);
        now += d.waitMs + late;
        continue;
      }
      sends.push_back({now, pacer.position()});
      pacer.Sent();
    }
    return true;
  }
};

TEST(StreamPacer, OneCycleOf210DatagramsTakes1050Ms) {
  PlayedStream s(1000, 60000, 210);
  ASSERT_TRUE(s.RunUntil(1000 + 1050));
  ASSERT_EQ(s.sends.size(), 210u);
  for (size_t i = 0; i < s.sends.size(); ++i) {
    EXPECT_EQ(s.sends[i].first, 1000 + 5 * i);
    EXPECT_EQ(s.sends[i].second, i);
  }
  ASSERT_TRUE(s.RunUntil(1000 + 1060));
  EXPECT_EQ(s.sends[210].second, 0u);  // round again
  EXPECT_EQ(s.sends[211].second, 1u);
}

TEST(StreamPacer, LateWakeUpsAreCaughtUpOnTheGrid) {
  // A thread that always wakes 3 ms late still sends 200 datagrams a second.
  PlayedStream s(0, 60000, 420);
  ASSERT_TRUE(s.RunUntil(10000, 3));
  EXPECT_GE(s.sends.size(), 1999u);
  EXPECT_LE(s.sends.size(), 2001u);
  // A pause of 40 ms is made up at once, in a burst of the 8 missed sends.
  PlayedStream p(0, 60000, 420);
  ASSERT_TRUE(p.RunUntil(1));
  p.now = 40;
  ASSERT_TRUE(p.RunUntil(41));
  EXPECT_EQ(p.sends.size(), 9u);
  const StreamPacer::Decision d = p.pacer.Next(41);
  EXPECT_EQ(d.kind, StreamPacer::Kind::Wait);
  EXPECT_EQ(d.waitMs, 4u);  // the grid point 45
}

TEST(StreamPacer, ALongStallStartsANewGridInsteadOfABurst) {
  PlayedStream s(0, 60000, 420);
  ASSERT_TRUE(s.RunUntil(1));
  s.now = 5000;  // held up for five seconds
  ASSERT_TRUE(s.RunUntil(5001));
  EXPECT_EQ(s.sends.size(), 2u);  // not a thousand
  ASSERT_TRUE(s.RunUntil(5100));
  EXPECT_EQ(s.sends.back().first, 5095u);
}

TEST(StreamPacer, LifetimeAndEmptyCycle) {
  PlayedStream s(0xFFFFFF00u, 60000, 210);  // the tick count wraps during the stream
  EXPECT_FALSE(s.RunUntil(0xFFFFFF00u + 70000));
  EXPECT_EQ(s.sends.size(), 12000u);
  EXPECT_EQ(s.pacer.Next(0xFFFFFF00u + 60000).kind, StreamPacer::Kind::Expired);
  EXPECT_EQ(s.pacer.Next(0xFFFFFF00u + 59999).kind, StreamPacer::Kind::Wait);  // still alive, next send due at 60000

  StreamPacer forever(0, StreamPacer::kForever);
  forever.SetCycleLength(1);
  EXPECT_NE(forever.Next(0xFFFFFFFEu).kind, StreamPacer::Kind::Expired);
  EXPECT_NE(forever.Next(0xFFFFFFFFu).kind, StreamPacer::Kind::Expired);

  PlayedStream empty(0, 60000, 0);
  ASSERT_TRUE(empty.RunUntil(1000));
  EXPECT_TRUE(empty.sends.empty());
  // Devices come: the cycle starts without a burst of the time that passed.
  empty.pacer.SetCycleLength(2);
  ASSERT_TRUE(empty.RunUntil(1020));
  EXPECT_EQ(empty.sends.size(), 4u);
}

TEST(StreamPacer, AHolderThatJoinsLateGetsItsWholeLifetime) {
  // The first job at 0 fixes 60 s; a job of a batch that joins at 50 s needs
  // its 60 s too, or its device's loader would get 10 s of the stream.
  PlayedStream s(0, 60000, 210);
  ASSERT_TRUE(s.RunUntil(50000));
  s.pacer.Renew(50000, 60000);
  ASSERT_TRUE(s.RunUntil(109990));
  EXPECT_EQ(s.pacer.Next(110000).kind, StreamPacer::Kind::Expired);
  // A shorter lifetime than what is left takes nothing away.
  PlayedStream t(0, 60000, 210);
  t.pacer.Renew(1000, 300);
  ASSERT_TRUE(t.RunUntil(59990));
  EXPECT_EQ(t.pacer.Next(60000).kind, StreamPacer::Kind::Expired);
  // After the lifetime has passed a renewal starts the stream again, on a
  // new grid rather than with a burst of what was missed.
  PlayedStream u(0xFFFFFF00u, 1000, 210);  // across the wrap of the tick count
  EXPECT_FALSE(u.RunUntil(0xFFFFFF00u + 5000));
  const size_t sent = u.sends.size();
  EXPECT_EQ(sent, 200u);
  u.now = 0xFFFFFF00u + 5000;
  u.pacer.Renew(u.now, 1000);
  EXPECT_FALSE(u.RunUntil(u.now + 2000));
  EXPECT_GE(u.sends.size() - sent, 199u);
  EXPECT_LE(u.sends.size() - sent, 201u);
  // Forever stays forever; a renewal for ever makes it so.
  StreamPacer f(0, 1000);
  f.SetCycleLength(1);
  f.Renew(500, StreamPacer::kForever);
  EXPECT_NE(f.Next(0x80000000u).kind, StreamPacer::Kind::Expired);
}

TEST(StreamPacer, ARebuiltCycleKeepsThePositionWhileItFits) {
  StreamPacer p(0, 60000);
  p.SetCycleLength(210);
  for (int i = 0; i < 150; ++i) p.Sent();
  EXPECT_EQ(p.position(), 150u);
  p.SetCycleLength(420);  // a 17th device: the cycle doubles
  EXPECT_EQ(p.position(), 150u);
  p.SetCycleLength(100);
  EXPECT_EQ(p.position(), 0u);
}

}  // namespace
}  // namespace qs::fw
