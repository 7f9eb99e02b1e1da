// The TCP programming stream of a boot loader whose RAM program runs, against
// the simulator in the test network: reads, digests and writes over the
// device's memory, the strict checks of every request, "APPL" and the
// application that then starts from the flash, the product-data areas in each
// of their states, and every fault of the stream.
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "tests/devsim/update_fixture.h"

namespace qs::updtest {
namespace {

using test::TestNet;

std::string InfoText(const std::string& version) {
  return "fw.info{\"model\":\"KV-xR\",\"version\":\"" + version + "\"}";
}
Bytes InfoBlock(const std::string& version) {
  Bytes b;
  Put(b, InfoText(version));
  b.push_back(0);
  return b;
}

// An Intel HEX file of the given chunks (all below 64 KiB), written by hand.
class HexFile {
 public:
  explicit HexFile(const std::vector<std::pair<uint16_t, Bytes>>& chunks) {
    char name[] = "/tmp/qs-devsim-fw-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    std::ofstream f(path_);
    for (const auto& [address, data] : chunks)
      for (size_t at = 0; at < data.size(); at += 16) {
        size_t n = std::min<size_t>(16, data.size() - at);
        uint16_t a = static_cast<uint16_t>(address + at);
        Bytes rec{static_cast<uint8_t>(n), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), 0};
        Put(rec, data.data() + at, n);
        uint8_t sum = 0;
        for (uint8_t v : rec) sum = static_cast<uint8_t>(sum + v);
        rec.push_back(static_cast<uint8_t>(-sum));
        f << ":" << Hex(rec) << "\r\n";
      }
    f << ":00000001FF\r\n";
  }
  ~HexFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The record's own rule: items from 20 up to a tag FF or a length 0, none past
// 480, and the SHA-1 of 20 up to the end item in the first 20 bytes.
bool RecordValid(const Bytes& r) {
  if (r.size() != 480) return false;
  size_t at = 20;
  for (;;) {
    if (at + 2 > 480 || at + 2 + r[at + 1] > 480) return false;
    bool end = r[at] == 0xFF || r[at + 1] == 0;
    at += 2 + r[at + 1];
    if (end) break;
  }
  return Sha1(Bytes(r.begin() + 20, r.begin() + static_cast<long>(at))) == Bytes(r.begin(), r.begin() + 20);
}

Bytes Record(const std::string& model, const std::array<uint8_t, 6>& mac, const std::string& serial) {
  Bytes r(20, 0);
  Put(r, Bytes{0xF0, 1, 1}.data(), 3);
  r.push_back(0x01);
  r.push_back(8);
  Bytes code(8, 0);
  std::memcpy(code.data(), model.data(), std::min<size_t>(8, model.size()));
  Put(r, code.data(), 8);
  r.push_back(0x02);
  r.push_back(6);
  Put(r, mac.data(), 6);
  r.push_back(0x03);
  r.push_back(static_cast<uint8_t>(serial.size()));
  Put(r, serial);
  r.push_back(0xFF);
  r.push_back(0);
  Bytes digest = Sha1(Bytes(r.begin() + 20, r.end()));
  std::copy(digest.begin(), digest.end(), r.begin());
  return r;
}

class ProgrammingStream : public Update {
 protected:
  // The whole device side of one update, driven as the library drives it:
  // the Reboot exchange, the streamed RAM program naming the device, the
  // recovery scan, a digest per chunk, the chunks that differ written and
  // verified, then "APPL". The data bytes the device took.
  uint64_t UpdateOnce(const std::string& mac, const std::vector<std::pair<uint32_t, Bytes>>& chunks) {
    uint32_t ip = Ip(mac);
    Id id = Hwid(mac);
    uint64_t before = std::stoull(Get(mac, "bytes_written"));
    EXPECT_TRUE(pc.Send(std::string("Reboot"), ip, 9010));
    Got c = pc.One();
    EXPECT_EQ(c.data.size(), 33u);
    if (c.data.size() < 33) return 0;
    Bytes token;
    EXPECT_TRUE(UnB64(std::string(c.data.begin() + 8, c.data.begin() + 32), &token));
    for (auto& b : token) b = static_cast<uint8_t>(~b);
    Bytes answer;
    Put(answer, "Reboot");
    Put(answer, B64(token.data(), token.size()));
    EXPECT_TRUE(pc.Send(answer, ip, 9010));
    EXPECT_EQ(WaitFor(mac, "loader_phase", "waiting-stream"), "waiting-stream");
    Bytes program = Pattern(2000, 5);
    Udp m(TestNet::PcA());
    for (uint16_t b = 0; b < 4; ++b) EXPECT_TRUE(m.Send(StreamBlock({id}, program, b), kGroup, kStreamPort));
    EXPECT_EQ(WaitFor(mac, "loader_phase", "programmer"), "programmer");
    EXPECT_TRUE(pc.Send(RecoveryRequest({id}), kLimited, kRecoveryPort));
    Got a = pc.One();
    EXPECT_EQ(a.data.size(), 48u);
    if (a.data.size() < 48) return 0;
    Tcp t;
    EXPECT_EQ(t.Connect(a.from, GetLe16(a.data.data() + 46)), 0);
    std::vector<bool> differs;
    for (const auto& [address, data] : chunks)
      differs.push_back(Digest(t, address, static_cast<uint32_t>(data.size())) != Sha1(data));
    for (size_t i = 0; i < chunks.size(); ++i)
      if (differs[i]) {
        auto positions = Write(t, "WRTE", chunks[i].first, chunks[i].second);
        EXPECT_FALSE(positions.empty());
        if (!positions.empty()) {
          EXPECT_EQ(positions.back(), chunks[i].first + chunks[i].second.size());
        }
      }
    for (const auto& [address, data] : chunks)
      EXPECT_EQ(Digest(t, address, static_cast<uint32_t>(data.size())), Sha1(data));
    EXPECT_TRUE(t.Send(Message("APPL", {})));
    EXPECT_TRUE(t.ClosedByPeer());
    EXPECT_EQ(WaitFor(mac, "state", "online"), "online");
    return std::stoull(Get(mac, "bytes_written")) - before;
  }
};

TEST_F(ProgrammingStream, ReadsDigestsAndWritesOverTheMemory) {
  std::string mac = Programmer("ip=10.71.3.1 fw_version=2.7");
  Tcp t;
  Open(t, mac);
  Bytes info = ReadMemory(t, 0x4000, 64);
  ASSERT_EQ(info.size(), 64u);
  Bytes want = InfoBlock("2.7");
  EXPECT_EQ(Bytes(info.begin(), info.begin() + static_cast<long>(want.size())), want);
  EXPECT_EQ(info.back(), 0xFF);  // erased flash after it
  Bytes window = ReadMemory(t, 0x4000, 4096);
  EXPECT_EQ(Digest(t, 0x4000, 4096), Sha1(window));
  EXPECT_EQ(Digest(t, 0x80000, 0x80000), Sha1(Bytes(0x80000, 0xFF)));

  // a write in pieces, reported every 4096 bytes and at its end
  Bytes data = Pattern(10000, 3);
  Bytes request = WriteRequest("WRTE", 0x10000, data);
  ASSERT_TRUE(t.Send(Bytes(request.begin(), request.begin() + 3000)));
  plat::SleepMs(50);
  ASSERT_TRUE(t.Send(Bytes(request.begin() + 3000, request.begin() + 7000)));
  plat::SleepMs(50);
  ASSERT_TRUE(t.Send(Bytes(request.begin() + 7000, request.end())));
  std::vector<uint32_t> positions;
  Reply r;
  while ((r = t.Next()).tag == "PRGS") positions.push_back(GetLe32(r.payload.data()));
  EXPECT_EQ(r.tag, "WFIN");
  ASSERT_EQ(positions.size(), 3u);
  EXPECT_EQ(positions[0], 0x10000u + 4096);
  EXPECT_EQ(positions[1], 0x10000u + 8192);
  EXPECT_EQ(positions[2], 0x10000u + 10000);
  EXPECT_EQ(Digest(t, 0x10000, 10000), Sha1(data));
  EXPECT_EQ(ReadMemory(t, 0x10000 + 4000, 100), Bytes(data.begin() + 4000, data.begin() + 4100));

  // the product record, with WRTU: the erase a technician may ask for
  EXPECT_EQ(Get(mac, "pd_record"), "valid");
  EXPECT_EQ(Write(t, "WRTU", 0x804020, Bytes(20, 0xFF)).back(), 0x804020u + 20);
  auto s = Show(mac);
  EXPECT_EQ(s["pd_record"], "invalid");
  EXPECT_EQ(s["bytes_written"], "10020");
  EXPECT_EQ(s["writes"], "2");
  EXPECT_EQ(s["refused_requests"], "0");
  std::vector<std::string> journal = Journal("WRTE");
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_NE(journal[0].find("address=0x010000 size=10000"), std::string::npos) << journal[0];
}

TEST_F(ProgrammingStream, RequestsOutOfRangeAreRefusedAndTheStreamKeepsItsFraming) {
  std::string mac = Programmer("ip=10.71.3.2");
  Tcp t;
  Open(t, mac);
  auto refused = [&](const Bytes& request) {
    EXPECT_TRUE(t.Send(request));
    return t.Next().tag == "ERRO";
  };
  EXPECT_TRUE(refused(RangeRequest("READ", 0x4000, 4097)));
  EXPECT_TRUE(refused(RangeRequest("READ", 0x4000, 0)));
  EXPECT_TRUE(refused(RangeRequest("READ", 0xFFFF0, 32)));    // past the flash
  EXPECT_TRUE(refused(RangeRequest("READ", 0x804100, 512)));  // past the product-data area
  EXPECT_TRUE(refused(RangeRequest("READ", 0xFFFFFFF0u, 32)));
  EXPECT_EQ(ReadMemory(t, 0x804000, 512).size(), 512u);
  EXPECT_EQ(ReadMemory(t, 0xFFF00, 256).size(), 256u);
  EXPECT_TRUE(refused(RangeRequest("DGST", 0x4000, 0)));
  EXPECT_TRUE(refused(RangeRequest("DGST", 0xF0000, 0x20000)));
  // writes in the wrong place: refused, their data read and dropped
  EXPECT_TRUE(refused(WriteRequest("WRTE", 0x804020, Bytes(100, 1))));  // product data takes WRTU only
  EXPECT_TRUE(refused(WriteRequest("WRTE", 0xFFF00, Bytes(512, 1))));
  EXPECT_TRUE(refused(WriteRequest("WRTU", 0x804000, Bytes(32, 1))));   // the calibration data
  EXPECT_TRUE(refused(WriteRequest("WRTU", 0x804020, Bytes(481, 1))));
  EXPECT_TRUE(refused(WriteRequest("WRTU", 0x4000, Bytes(4, 1))));
  EXPECT_EQ(Digest(t, 0xFFF00, 256), Sha1(Bytes(256, 0xFF)));  // nothing was written
  auto s = Show(mac);
  EXPECT_EQ(s["refused_requests"], "12");
  EXPECT_EQ(s["bytes_written"], "0");

  // a request of the wrong length, or an unknown one, ends the connection
  auto closes = [&](const Bytes& request) {
    Tcp c;
    EXPECT_EQ(c.Connect(Ip(mac), kProgrammingPort), 0);
    EXPECT_TRUE(c.Send(request));
    return c.ClosedByPeer();
  };
  Bytes nine;
  Le32(nine, 0x4000);
  Le32(nine, 16);
  nine.push_back(0);
  EXPECT_TRUE(closes(Message("READ", nine)));
  EXPECT_TRUE(closes(Message("DGST", Bytes(4, 0))));
  EXPECT_TRUE(closes(Message("WRTE", Bytes(4, 0))));  // no data
  EXPECT_TRUE(closes(Message("APPL", Bytes(4, 0))));
  EXPECT_TRUE(closes(Message("RDAT", Bytes(8, 0))));
  EXPECT_TRUE(closes(Message("read", Bytes(8, 0))));
  EXPECT_EQ(Get(mac, "state"), "loader");  // none of them was an APPL
  EXPECT_EQ(Get(mac, "refused_requests"), "18");
  EXPECT_EQ(Journal("malformed").size(), 6u);
}

TEST_F(ProgrammingStream, ApplyStartsTheApplicationOfTheFlashOrLeavesTheUnitInItsLoader) {
  std::string good = Programmer("ip=10.71.3.3 app_delay=300 fw_version=1.12");
  std::string broken = Add("model=KV1R stuck=1 ip=10.71.3.4 app_delay=100");
  Stream(Pattern(700, 1), broken);
  EXPECT_EQ(Get(good, "stuck"), "1");

  Tcp t;
  Open(t, good);
  Write(t, "WRTE", 0x4000, InfoBlock("3.4"));
  ASSERT_TRUE(t.Send(Message("APPL", {})));
  EXPECT_TRUE(t.ClosedByPeer());
  uint32_t sent = plat::TickCount();
  EXPECT_EQ(WaitFor(good, "state", "rebooting", 300), "rebooting");
  EXPECT_EQ(WaitFor(good, "state", "online"), "online");
  EXPECT_GE(plat::TicksSince(sent), 250u);
  auto s = Show(good);
  EXPECT_EQ(s["version"], "3.4");
  EXPECT_EQ(s["fw_info"], "3.4");
  EXPECT_EQ(s["app_starts"], "1");
  EXPECT_EQ(s["stuck"], "0");
  EXPECT_EQ(s["loader_phase"], "app");
  ASSERT_TRUE(pc.Send(std::string("?Version"), Ip(good), 9010));
  Got v = pc.One();
  EXPECT_EQ(std::string(v.data.begin(), v.data.end()), "\x02Version:3.4");
  Tcp gone;
  EXPECT_NE(gone.Connect(Ip(good), kProgrammingPort, 500), 0);  // the programming stream has gone

  // marker overwritten: nothing that could start, so the loader runs again
  Tcp b;
  Open(b, broken);
  Write(b, "WRTE", 0x4000, Bytes(7, 0));
  ASSERT_TRUE(b.Send(Message("APPL", {})));
  EXPECT_TRUE(b.ClosedByPeer());
  EXPECT_EQ(WaitFor(broken, "state", "rebooting", 300), "rebooting");
  EXPECT_EQ(WaitFor(broken, "state", "loader"), "loader");
  s = Show(broken);
  EXPECT_EQ(s["loader_phase"], "waiting-stream");
  EXPECT_EQ(s["stuck"], "1");
  EXPECT_EQ(s["fw_info"], "status-500");
  EXPECT_EQ(s["app_starts"], "0");
  EXPECT_EQ(s["ram_size"], "0");  // its RAM program is gone with the restart
}

TEST_F(ProgrammingStream, AnUpdateWritesOnlyWhatDiffersAndTheDeviceReportsTheVersionItWasGiven) {
  Bytes code = Pattern(3000, 21);
  std::vector<std::pair<uint32_t, Bytes>> image = {{0x4000, InfoBlock("4.2")}, {0x8000, code}};
  HexFile file({{0x4000, image[0].second}, {0x8000, code}});

  std::string old = Add("model=KV1R ip=10.71.3.5 fw_version=1.12 loader_delay=100 app_delay=100");
  EXPECT_EQ(Get(old, "version"), "1.12");
  EXPECT_EQ(UpdateOnce(old, image), image[0].second.size() + code.size());
  EXPECT_EQ(Get(old, "version"), "4.2");
  EXPECT_EQ(UpdateOnce(old, image), 0u);  // up to date: nothing written

  // a device made from the file is up to date already; one chunk changed on
  // another costs that chunk alone
  std::string made = Add("model=KV2R ip=10.71.3.6 loader_delay=100 app_delay=100 fw_file=" + file.path());
  auto s = Show(made);
  EXPECT_EQ(s["version"], "4.2");
  EXPECT_EQ(s["fw_info"], "4.2");
  EXPECT_EQ(s["fw_file"], file.path());
  EXPECT_EQ(UpdateOnce(made, image), 0u);
  image[1].second[100] ^= 1;
  EXPECT_EQ(UpdateOnce(made, image), code.size());
  std::string missing;
  EXPECT_FALSE(sim.Command("add model=KV1R fw_file=/nonexistent/fw.hex", nullptr, &missing));
}

TEST_F(ProgrammingStream, ProductDataAreasInEachState) {
  const char* states[] = {"valid", "old", "old-bad", "old-long-serial", "blank"};
  std::map<std::string, std::string> macs;
  for (int i = 0; i < 5; ++i)
    macs[states[i]] = Add("model=KV2R stuck=1 serial=SN-" + std::to_string(100 + i) + " ip=10.71.3." +
                          std::to_string(20 + i) + " product=" + states[i]);
  Udp m(TestNet::PcA());
  Bytes program = Pattern(600, 2);
  for (uint16_t b = 0; b < 2; ++b) ASSERT_TRUE(m.Send(StreamBlock({}, program, b), kGroup, kStreamPort));
  for (auto& [state, mac] : macs) {
    ASSERT_EQ(WaitFor(mac, "loader_phase", "programmer"), "programmer") << state;
    Tcp t;
    Open(t, mac);
    Bytes area = ReadMemory(t, 0x804000, 512);
    Bytes old = ReadMemory(t, 0x3E000, 64);
    ASSERT_EQ(area.size(), 512u);
    auto s = Show(mac);
    EXPECT_EQ(s["pd_area"], Hex(area)) << state;
    EXPECT_EQ(s["old_block"], Hex(old)) << state;
    Bytes record(area.begin() + 32, area.end());
    std::array<uint8_t, 6> hw = MacOf(mac);
    std::string serial = s["serial"];
    EXPECT_EQ(s["pd_record"], RecordValid(record) ? "valid" : "invalid") << state;
    if (std::string(state) == "blank") {
      EXPECT_EQ(area, Bytes(512, 0xFF));
      EXPECT_EQ(old, Bytes(64, 0xFF));
      continue;
    }
    EXPECT_NE(Bytes(area.begin(), area.begin() + 32), Bytes(32, 0xFF)) << "calibration data";
    EXPECT_EQ(Bytes(old.begin(), old.begin() + 6), Bytes(hw.begin(), hw.end())) << state;
    std::string code(old.begin() + 22, old.begin() + 30);
    if (std::string(state) == "valid") {
      EXPECT_TRUE(RecordValid(record));
      Bytes want = Record("KV2R", hw, serial);
      EXPECT_EQ(Bytes(record.begin(), record.begin() + static_cast<long>(want.size())), want);
      continue;
    }
    EXPECT_EQ(record, Bytes(480, 0xFF)) << state;  // erased
    if (std::string(state) == "old-bad") {
      EXPECT_NE(code.substr(0, 4), "KV2R");
      continue;
    }
    EXPECT_EQ(code, std::string("KV2R\0\0\0\0", 8)) << state;
    std::string text(old.begin() + 30, old.end());
    if (std::string(state) == "old") {
      EXPECT_EQ(text.substr(0, text.find('\0')), serial);
    } else {
      EXPECT_EQ(text.substr(0, 24).find('\0'), std::string::npos) << "longer than the record's 24 characters";
      EXPECT_EQ(text.substr(0, serial.size()), serial);
    }
  }

  // the migration of an old block, as the library writes it
  std::string mac = macs["old"];
  Tcp t;
  Open(t, mac);
  Bytes block = Pattern(56, 4);
  Write(t, "WRTE", 0xFE000, block);
  Bytes record = Record("KV2R", MacOf(mac), Get(mac, "serial"));
  Write(t, "WRTU", 0x804020, record);
  auto s = Show(mac);
  EXPECT_EQ(s["cfg_block"], Hex(block));
  EXPECT_EQ(s["pd_record"], "valid");
  EXPECT_EQ(ReadMemory(t, 0x804020, static_cast<uint32_t>(record.size())), record);
}

TEST_F(ProgrammingStream, ReadAndDigestFaults) {
  std::string mac = Programmer("ip=10.71.3.30 read_fault=erro read_fault_at=product,oldconfig");
  Tcp t;
  Open(t, mac);
  EXPECT_EQ(ReadMemory(t, 0x4000, 16).size(), 16u);  // the application area is spared
  ASSERT_TRUE(t.Send(RangeRequest("READ", 0x804000, 512)));
  EXPECT_EQ(t.Next().tag, "ERRO");
  ASSERT_TRUE(t.Send(RangeRequest("READ", 0x3E000, 4096)));
  EXPECT_EQ(t.Next().tag, "ERRO");

  ASSERT_TRUE(sim.Set(mac, "read_fault=badtag read_fault_at=app"));
  ASSERT_TRUE(t.Send(RangeRequest("READ", 0x4000, 16)));
  Reply r = t.Next();
  EXPECT_EQ(r.tag, "RDAX");
  EXPECT_EQ(r.length, 20u);
  EXPECT_EQ(ReadMemory(t, 0x804000, 32).size(), 32u);

  ASSERT_TRUE(sim.Set(mac, "read_fault=badlen"));
  ASSERT_TRUE(t.Send(RangeRequest("READ", 0x4000, 16)));
  r = t.Next();
  EXPECT_EQ(r.tag, "RDAT");
  EXPECT_EQ(r.length, 19u);

  ASSERT_TRUE(sim.Set(mac, "read_fault=silent"));
  ASSERT_TRUE(t.Send(RangeRequest("READ", 0x4000, 16)));
  EXPECT_EQ(t.Next(300).tag, "");
  ASSERT_TRUE(sim.Set(mac, "read_fault=none"));
  EXPECT_EQ(ReadMemory(t, 0x4000, 16).size(), 16u);  // the same connection goes on

  ASSERT_TRUE(sim.Set(mac, "read_fault=short"));
  ASSERT_TRUE(t.Send(RangeRequest("READ", 0x4000, 64)));
  Bytes head, rest;
  ASSERT_TRUE(t.Read(8, &head));
  EXPECT_EQ(GetLe32(head.data()), 68u);
  EXPECT_FALSE(t.Read(68, &rest));  // cut short and closed
  EXPECT_EQ(rest.size(), 4u + 32u);

  // digests
  ASSERT_TRUE(sim.Set(mac, "read_fault=none"));
  const char* faults[] = {"erro", "badtag", "badlen", "silent"};
  const char* tags[] = {"ERRO", "DGSX", "DGST", ""};
  const uint32_t lengths[] = {0, 20, 19, 0};
  Tcp d;
  Open(d, mac);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(sim.Set(mac, std::string("dgst_fault=") + faults[i]));
    ASSERT_TRUE(d.Send(RangeRequest("DGST", 0x4000, 4096)));
    r = d.Next(300);
    EXPECT_EQ(r.tag, tags[i]) << faults[i];
    EXPECT_EQ(r.length, lengths[i]) << faults[i];
  }
  ASSERT_TRUE(sim.Set(mac, "dgst_fault=short"));
  ASSERT_TRUE(d.Send(RangeRequest("DGST", 0x4000, 4096)));
  ASSERT_TRUE(d.Read(8, &head));
  EXPECT_EQ(GetLe32(head.data()), 20u);
  EXPECT_FALSE(d.Read(20, &rest));
  EXPECT_EQ(rest.size(), 10u);
  EXPECT_EQ(Journal("fault").size(), 11u);
}

TEST_F(ProgrammingStream, WriteFaults) {
  std::string mac = Programmer("ip=10.71.3.31 write_fault=erro write_fault_at=cfgblock");
  Tcp t;
  Open(t, mac);
  Bytes data = Pattern(8192, 5);
  EXPECT_EQ(Write(t, "WRTE", 0x20000, data).back(), 0x20000u + 8192);  // not aimed at the application area
  ASSERT_TRUE(t.Send(WriteRequest("WRTE", 0xFE000, Bytes(56, 1))));
  EXPECT_EQ(t.Next().tag, "ERRO");  // half way through
  EXPECT_EQ(ReadMemory(t, 0x20000, 8).size(), 8u);  // the stream keeps its framing

  ASSERT_TRUE(sim.Set(mac, "write_fault=erro write_fault_at=app"));
  ASSERT_TRUE(t.Send(WriteRequest("WRTE", 0x30000, data)));
  Reply r = t.Next();
  while (r.tag == "PRGS") r = t.Next();
  EXPECT_EQ(r.tag, "ERRO");
  EXPECT_EQ(t.Next(200).tag, "");  // and no WFIN

  ASSERT_TRUE(sim.Set(mac, "write_fault=nostick"));
  Bytes before = Digest(t, 0x40000, 8192);
  EXPECT_EQ(Write(t, "WRTE", 0x40000, data).back(), 0x40000u + 8192);  // reported as written
  EXPECT_EQ(Digest(t, 0x40000, 8192), before);                        // but still what it was
  EXPECT_NE(before, Sha1(data));

  ASSERT_TRUE(sim.Set(mac, "write_fault=drop"));
  Bytes big = Pattern(200000, 6);
  t.Send(WriteRequest("WRTE", 0x50000, big));
  r = t.Next();
  while (r.tag == "PRGS") r = t.Next();
  EXPECT_EQ(r.tag, "");  // the connection went before WFIN
  EXPECT_TRUE(t.ClosedByPeer(500));
  EXPECT_EQ(Get(mac, "loader_phase"), "programmer");
  Tcp again;
  Open(again, mac);  // a new connection is served
  ASSERT_TRUE(sim.Set(mac, "write_fault=none"));
  EXPECT_EQ(Digest(again, 0x50000, 4), Sha1(Bytes(big.begin(), big.begin() + 4)));  // the first part stuck
  auto closes = Journal("tcp-close");
  EXPECT_EQ(std::count_if(closes.begin(), closes.end(),
                          [](const std::string& l) { return l.find("why=fault=drop") != std::string::npos; }),
            1);
}

TEST_F(ProgrammingStream, RefusedAndClosedConnectionsAndSlowProgress) {
  std::string refusing = Programmer("ip=10.71.3.40 tcp=refuse");
  std::string closing = Programmer("ip=10.71.3.41 tcp=close");
  Tcp t;
  EXPECT_EQ(t.Connect(Ip(refusing), kProgrammingPort), ECONNREFUSED);
  EXPECT_EQ(Get(refusing, "loader_phase"), "programmer");  // it announces itself all the same
  ASSERT_TRUE(pc.Send(RecoveryRequest({Hwid(refusing)}), kLimited, kRecoveryPort));
  EXPECT_EQ(pc.One().data.size(), 48u);
  EXPECT_EQ(t.Connect(Ip(closing), kProgrammingPort), 0);
  EXPECT_TRUE(t.ClosedByPeer());
  EXPECT_FALSE(t.reset());  // closed, not reset
  EXPECT_EQ(Get(closing, "tcp_accepted"), "0");

  std::string slow = Programmer("ip=10.71.3.42 prgs_delay=200");
  Open(t, slow);
  Bytes data = Pattern(8192, 9);
  uint32_t start = plat::TickCount();
  ASSERT_TRUE(t.Send(WriteRequest("WRTE", 0x60000, data)));
  std::vector<uint32_t> at;
  Reply r;
  while ((r = t.Next()).tag == "PRGS") at.push_back(plat::TicksSince(start));
  EXPECT_EQ(r.tag, "WFIN");
  ASSERT_EQ(at.size(), 2u);
  EXPECT_GE(at[0], 180u);
  EXPECT_GE(at[1] - at[0], 180u);
  EXPECT_LT(plat::TicksSince(start), 1000u);
}

}  // namespace
}  // namespace qs::updtest
