// The two boot loaders against the simulator in the test network: the RAM
// program taken from the multicast stream or uploaded after "WPBOOT", what a
// loader takes and what it refuses, the program it records, and the
// announcement to the recovery scan once the program runs.
#include "tests/devsim/update_fixture.h"

namespace qs::updtest {
namespace {

using test::TestNet;

struct Announcement {
  Id id{};
  std::array<uint8_t, 6> mac{};
  uint16_t port = 0;
  uint32_t from = 0;
  size_t size = 0;
};

std::vector<Announcement> Announcements(const std::vector<Got>& got) {
  std::vector<Announcement> out;
  for (const auto& g : got) {
    if (g.data.size() < 20 || GetLe32(g.data.data() + 16) != 0x9071) continue;
    Announcement a;
    a.size = g.data.size();
    a.from = g.from;
    if (g.data.size() >= 48) {
      std::memcpy(a.id.data(), g.data.data() + 24, 16);
      std::memcpy(a.mac.data(), g.data.data() + 40, 6);
      a.port = GetLe16(g.data.data() + 46);
    }
    out.push_back(a);
  }
  return out;
}

class Loader : public Update {
 protected:
  std::vector<Announcement> Scan(const std::vector<Id>& watched) {
    EXPECT_TRUE(pc.Send(RecoveryRequest(watched), kLimited, kRecoveryPort));
    return Announcements(pc.Collect(300));
  }
};

TEST_F(Loader, StreamBlocksInAnyOrderFromDatagramsNamingTheDeviceOrNobody) {
  std::string x = Add("model=KV1R ip=10.71.2.10 stuck=1");
  std::string y = Add("model=KV2R ip=10.71.2.11 stuck=1");
  EXPECT_EQ(Get(x, "state"), "loader");
  EXPECT_EQ(Get(x, "loader_phase"), "waiting-stream");
  Id idX = Hwid(x), idY = Hwid(y), stranger = NewId();
  Bytes program = Pattern(1300, 7);  // 512, 512, 276
  Bytes decoy = Pattern(512, 8);
  Udp m(TestNet::PcA());

  // meant for somebody else: neither takes it
  ASSERT_TRUE(m.Send(StreamDatagram({stranger}, 1, decoy.data(), decoy.size()), kGroup, kStreamPort));
  // malformed: n = 17, the format word 2, a length beyond 512
  Bytes bad = StreamBlock({}, program, 1);
  bad[18] = 17;
  ASSERT_TRUE(m.Send(bad, kGroup, kStreamPort));
  bad = StreamBlock({}, program, 1);
  bad[16] = 2;
  ASSERT_TRUE(m.Send(bad, kGroup, kStreamPort));
  // the last block for y alone, then for everybody; the middle one for x and y
  ASSERT_TRUE(m.Send(StreamBlock({stranger, idY}, program, 2), kGroup, kStreamPort));
  ASSERT_TRUE(m.Send(StreamBlock({}, program, 2), kGroup, kStreamPort));
  ASSERT_TRUE(m.Send(StreamBlock({idX, idY}, program, 1), kGroup, kStreamPort));
  plat::SleepMs(100);
  for (const auto& mac : {x, y}) {
    EXPECT_EQ(Get(mac, "loader_phase"), "waiting-stream");
    EXPECT_EQ(Get(mac, "ram_blocks"), "2");
  }
  EXPECT_EQ(Scan({}).size(), 0u);  // no RAM program, no announcement
  ASSERT_TRUE(m.Send(StreamBlock({}, program, 0), kGroup, kStreamPort));
  for (const auto& mac : {x, y}) {
    ASSERT_EQ(WaitFor(mac, "loader_phase", "programmer"), "programmer");
    auto s = Show(mac);
    EXPECT_EQ(s["ram_source"], "stream");
    EXPECT_EQ(s["ram_size"], "1300");
    EXPECT_EQ(s["ram_sha1"], Sha1Hex(program));
  }
  std::vector<std::string> log;
  ASSERT_TRUE(sim.Command("log junk", &log));
  EXPECT_EQ(log.size(), 2u);  // the two malformed datagrams, kept in the log

  // the recovery scan: everybody when nobody is watched, else the watched only
  auto all = Scan({});
  ASSERT_EQ(all.size(), 2u);
  for (const auto& a : all) {
    EXPECT_EQ(a.size, 48u);
    EXPECT_EQ(a.port, kProgrammingPort);
    std::string mac = a.from == Ip(x) ? x : y;
    EXPECT_EQ(a.from, Ip(mac));
    EXPECT_EQ(a.id, Hwid(mac));
    EXPECT_EQ(a.mac, MacOf(mac));
  }
  auto onlyX = Scan({stranger, idX});
  ASSERT_EQ(onlyX.size(), 1u);
  EXPECT_EQ(onlyX[0].id, idX);
  EXPECT_TRUE(Scan({stranger}).empty());
  // a request of the wrong shape is no request
  Bytes req = RecoveryRequest({});
  req.push_back(0);
  ASSERT_TRUE(pc.Send(req, kLimited, kRecoveryPort));
  EXPECT_TRUE(pc.Collect(300).empty());
}

TEST_F(Loader, AProgramOfWholeBlocksEndsWhenTheStreamWrapsAndTooLargeABlockIsRefused) {
  std::string mac = Add("model=KV1R ip=10.71.2.12 stuck=1");
  Bytes program = Pattern(1024, 9);
  Udp m(TestNet::PcA());
  Bytes far = Pattern(100, 1);
  ASSERT_TRUE(m.Send(StreamDatagram({}, 600, far.data(), far.size()), kGroup, kStreamPort));  // beyond 256 KiB
  ASSERT_TRUE(m.Send(StreamBlock({}, program, 0), kGroup, kStreamPort));
  ASSERT_TRUE(m.Send(StreamBlock({}, program, 1), kGroup, kStreamPort));
  plat::SleepMs(100);
  EXPECT_EQ(Get(mac, "loader_phase"), "waiting-stream");  // there may be more
  EXPECT_EQ(Get(mac, "stream_refused"), "1");
  ASSERT_TRUE(m.Send(StreamBlock({}, program, 0), kGroup, kStreamPort));  // the next cycle
  ASSERT_EQ(WaitFor(mac, "loader_phase", "programmer"), "programmer");
  EXPECT_EQ(Get(mac, "ram_size"), "1024");
  EXPECT_EQ(Get(mac, "ram_sha1"), Sha1Hex(program));
}

TEST_F(Loader, TheOlderLoaderAsksTakesTheOfferAndTheUploadBlockByBlock) {
  Udp watcher(TestNet::PcA(), kBootPort);
  ASSERT_TRUE(watcher.ok());
  std::string mac = Add("model=KV2R ip=10.71.2.20 stuck=1 loader=older wpboot_interval=200");
  EXPECT_EQ(Get(mac, "loader_phase"), "waiting-offer");
  EXPECT_EQ(Get(mac, "ip"), "0.0.0.0");

  // boot messages: at once and every 200 ms, from port 60890, naming the MAC
  auto boots = watcher.Collect(450, 1000, TestNet::PcA());
  ASSERT_GE(boots.size(), 2u);
  std::array<uint8_t, 6> hw = MacOf(mac);
  for (const auto& b : boots) {
    ASSERT_EQ(b.data.size(), 30u);
    EXPECT_EQ(std::string(b.data.begin(), b.data.begin() + 6), "WPBOOT");
    EXPECT_EQ(Bytes(b.data.begin() + 6, b.data.begin() + 24), Bytes(18, 0));
    EXPECT_EQ(Bytes(b.data.begin() + 24, b.data.end()), Bytes(hw.begin(), hw.end()));
    EXPECT_EQ(b.port, kLoaderPort);
  }
  EXPECT_GE(boots[1].at - boots[0].at, 150u);
  // a watcher's hello makes it ask again at once
  ASSERT_TRUE(sim.Set(mac, "wpboot_interval=5000"));
  watcher.Collect(300);  // the one already due under the old interval
  ASSERT_TRUE(pc.Send(Bytes{0xFD}, kLimited, kBootPort));
  auto again = watcher.Collect(300, 1000, TestNet::PcA());
  ASSERT_EQ(again.size(), 1u);
  EXPECT_LT(again[0].at, 150u);

  // offers for another MAC or of the wrong size are not taken
  Id job = NewId();
  std::array<uint8_t, 6> otherMac = MacOf("02-00-00-00-00-09");
  const uint32_t offered = 0x0A470355u;  // 10.71.3.85
  ASSERT_TRUE(pc.Send(Offer(job, otherMac, offered), kLimited, kLoaderPort));
  Bytes longer = Offer(job, MacOf(mac), offered);
  longer.push_back(0);
  ASSERT_TRUE(pc.Send(longer, kLimited, kLoaderPort));
  EXPECT_TRUE(pc.Collect(250).empty());
  ASSERT_TRUE(pc.Send(Offer(job, MacOf(mac), offered), kLimited, kLoaderPort));
  Got sel = pc.One();
  ASSERT_EQ(sel.data.size(), 24u);
  EXPECT_EQ(std::string(sel.data.begin(), sel.data.begin() + 6), "WPSLCT");
  EXPECT_EQ(Bytes(sel.data.begin() + 8, sel.data.end()), Bytes(job.begin(), job.end()));
  EXPECT_EQ(sel.from, offered);
  EXPECT_EQ(sel.port, kLoaderPort);
  EXPECT_EQ(Get(mac, "ip"), "10.71.3.85");
  EXPECT_EQ(Get(mac, "loader_phase"), "uploading");

  // 1024 bytes: two full blocks and an empty last one
  Bytes program = Pattern(1024, 11);
  auto send = [&](const Id& j, uint32_t block) {
    size_t at = std::min<size_t>(size_t{block} * 512, program.size());
    size_t len = std::min<size_t>(512, program.size() - at);
    EXPECT_TRUE(pc.Send(ImageBlock(j, block, program.data() + at, len), offered, kLoaderPort));
  };
  auto ackOf = [&](const Got& g) -> int64_t {
    if (g.data.size() != 28 || std::string(g.data.begin(), g.data.begin() + 6) != "WPACKL") return -1;
    if (Bytes(g.data.begin() + 8, g.data.begin() + 24) != Bytes(job.begin(), job.end())) return -2;
    return GetLe32(g.data.data() + 24);
  };
  send(NewId(), 0);  // another job's block: no answer
  EXPECT_TRUE(pc.Collect(250).empty());
  send(job, 0);
  EXPECT_EQ(ackOf(pc.One()), 0);
  send(job, 0);  // the acknowledgement was lost: the same again
  EXPECT_EQ(ackOf(pc.One()), 0);
  send(job, 2);  // out of order: not taken
  EXPECT_TRUE(pc.Collect(250).empty());
  send(job, 1);
  EXPECT_EQ(ackOf(pc.One()), 1);
  EXPECT_EQ(Get(mac, "loader_phase"), "uploading");  // a full block is not the last
  send(job, 2);
  EXPECT_EQ(ackOf(pc.One()), 2);
  ASSERT_EQ(WaitFor(mac, "loader_phase", "programmer"), "programmer");
  auto s = Show(mac);
  EXPECT_EQ(s["ram_source"], "older");
  EXPECT_EQ(s["ram_size"], "1024");
  EXPECT_EQ(s["ram_sha1"], Sha1Hex(program));

  // it announces itself from the offered address
  ASSERT_TRUE(pc.Send(RecoveryRequest({Hwid(mac)}), kLimited, kRecoveryPort));
  auto a = Announcements(pc.Collect(300));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].from, offered);
  EXPECT_EQ(a[0].port, kProgrammingPort);
  EXPECT_TRUE(watcher.Collect(300, 1000, TestNet::PcA()).empty());  // and asks no more
}

TEST_F(Loader, OlderLoaderFaults) {
  std::string mac = Add("model=KV1R stuck=1 loader=older wp_fault=no-select");
  Id job = NewId();
  const uint32_t offered = 0x0A470356u;
  ASSERT_TRUE(pc.Send(Offer(job, MacOf(mac), offered), kLimited, kLoaderPort));
  EXPECT_TRUE(pc.Collect(300).empty());
  EXPECT_EQ(Get(mac, "loader_phase"), "waiting-offer");

  ASSERT_TRUE(sim.Set(mac, "wp_fault=wrong-job"));
  ASSERT_TRUE(pc.Send(Offer(job, MacOf(mac), offered), kLimited, kLoaderPort));
  Got sel = pc.One();
  ASSERT_EQ(sel.data.size(), 24u);
  EXPECT_NE(Bytes(sel.data.begin() + 8, sel.data.end()), Bytes(job.begin(), job.end()));

  // lose-ack: block 1 unacknowledged the first time only
  std::string lossy = Add("model=KV1R stuck=1 loader=older wp_fault=lose-ack");
  Id job2 = NewId();
  const uint32_t offered2 = 0x0A470357u;
  ASSERT_TRUE(pc.Send(Offer(job2, MacOf(lossy), offered2), kLimited, kLoaderPort));
  ASSERT_EQ(pc.One().data.size(), 24u);
  Bytes program = Pattern(1500, 3);
  auto block = [&](uint32_t b) {
    size_t at = size_t{b} * 512, len = std::min<size_t>(512, program.size() - at);
    return ImageBlock(job2, b, program.data() + at, len);
  };
  for (uint32_t b : {0u, 1u}) ASSERT_TRUE(pc.Send(block(b), offered2, kLoaderPort));
  auto acks = pc.Collect(250);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(GetLe32(acks[0].data.data() + 24), 0u);
  ASSERT_TRUE(pc.Send(block(1), offered2, kLoaderPort));
  acks = pc.Collect(250);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(GetLe32(acks[0].data.data() + 24), 1u);
  ASSERT_TRUE(pc.Send(block(2), offered2, kLoaderPort));
  EXPECT_EQ(pc.Collect(250).size(), 1u);
  EXPECT_EQ(WaitFor(lossy, "ram_sha1", Sha1Hex(program)), Sha1Hex(program));

  // stall: nothing from block 2 on
  std::string stalling = Add("model=KV1R stuck=1 loader=older wp_fault=stall");
  Id job3 = NewId();
  const uint32_t offered3 = 0x0A470358u;
  ASSERT_TRUE(pc.Send(Offer(job3, MacOf(stalling), offered3), kLimited, kLoaderPort));
  ASSERT_EQ(pc.One().data.size(), 24u);
  for (uint32_t b : {0u, 1u, 2u}) {
    size_t at = size_t{b} * 512, len = std::min<size_t>(512, program.size() - at);
    ASSERT_TRUE(pc.Send(ImageBlock(job3, b, program.data() + at, len), offered3, kLoaderPort));
  }
  EXPECT_EQ(pc.Collect(300).size(), 2u);
  EXPECT_EQ(Get(stalling, "loader_phase"), "uploading");
}

TEST_F(Loader, AnnouncementFaults) {
  std::string mac = Programmer("ip=10.71.2.30 recovery_reply=short");
  ASSERT_TRUE(pc.Send(RecoveryRequest({}), kLimited, kRecoveryPort));
  auto a = Announcements(pc.Collect(300));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].size, 40u);
  ASSERT_TRUE(sim.Set(mac, "recovery_reply=port0"));
  ASSERT_TRUE(pc.Send(RecoveryRequest({}), kLimited, kRecoveryPort));
  a = Announcements(pc.Collect(300));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].size, 48u);
  EXPECT_EQ(a[0].port, 0u);
  ASSERT_TRUE(sim.Set(mac, "recovery_reply=none"));
  ASSERT_TRUE(pc.Send(RecoveryRequest({}), kLimited, kRecoveryPort));
  EXPECT_TRUE(pc.Collect(300).empty());
  EXPECT_EQ(Get(mac, "announcements"), "2");
}

}  // namespace
}  // namespace qs::updtest
