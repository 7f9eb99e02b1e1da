// The plain-text "Reboot" exchange of an update against the simulator, over
// UDP 9010 in the test network: the challenge's bytes, the check of the
// answer, the restart into the boot loader, and each fault.
#include "tests/devsim/update_fixture.h"

namespace qs::updtest {
namespace {

using test::TestNet;

struct Challenge {
  Bytes raw;
  Bytes token;  // decoded, 16 bytes when well formed
  uint32_t from = 0;
};

class Reboot : public Update {
 protected:
  // "Reboot" to the device's address; the one datagram that comes back.
  Challenge Ask(Udp& u, uint32_t to, uint32_t waitMs = 1000) {
    EXPECT_TRUE(u.Send(std::string("Reboot"), to, 9010));
    Challenge c;
    Got g = u.One(waitMs);
    c.raw = g.data;
    c.from = g.from;
    if (c.raw.size() >= 32) {
      std::string text(c.raw.begin() + 8, c.raw.begin() + 32);
      text = text.substr(0, text.find('\0'));
      if (!UnB64(text, &c.token) || c.token.size() != 16) c.token.clear();
    }
    return c;
  }
  static Bytes Answer(const Bytes& token, bool invert = true) {
    Bytes inv(token);
    if (invert)
      for (auto& b : inv) b = static_cast<uint8_t>(~b);
    Bytes a;
    Put(a, "Reboot");
    Put(a, B64(inv.data(), inv.size()));
    return a;
  }
};

TEST_F(Reboot, TheInvertedTokenRestartsTheDeviceIntoItsBootLoaderAndNothingElseDoes) {
  std::string mac = Add("model=KV1R ip=10.71.1.20 loader_delay=300");
  uint32_t ip = Ip(mac);

  Challenge first = Ask(pc, ip);
  ASSERT_EQ(first.raw.size(), 33u);
  EXPECT_EQ(first.from, ip);
  EXPECT_EQ(first.raw[0], 0x02);
  EXPECT_EQ(std::string(first.raw.begin() + 1, first.raw.begin() + 8), "?Reboot");
  EXPECT_EQ(first.raw[32], 0);
  ASSERT_EQ(first.token.size(), 16u) << Hex(first.raw);
  EXPECT_EQ(std::string(first.raw.begin() + 30, first.raw.begin() + 32), "==");

  // the token itself, not inverted, is refused and spends the challenge
  ASSERT_TRUE(pc.Send(Answer(first.token, false), ip, 9010));
  EXPECT_EQ(WaitFor(mac, "last_fw_answer", "wrong"), "wrong");
  ASSERT_TRUE(pc.Send(Answer(first.token), ip, 9010));
  EXPECT_EQ(WaitFor(mac, "last_fw_answer", "no-challenge"), "no-challenge");
  plat::SleepMs(400);
  EXPECT_EQ(Get(mac, "state"), "online");
  EXPECT_EQ(Get(mac, "fw_answers_refused"), "2");

  // every request makes a new token
  Challenge second = Ask(pc, ip);
  ASSERT_EQ(second.token.size(), 16u);
  EXPECT_NE(second.token, first.token);
  uint32_t sent = plat::TickCount();
  ASSERT_TRUE(pc.Send(Answer(second.token), ip, 9010));
  EXPECT_EQ(WaitFor(mac, "state", "rebooting", 200), "rebooting");
  EXPECT_EQ(WaitFor(mac, "state", "loader"), "loader");
  EXPECT_GE(plat::TicksSince(sent), 250u);
  auto s = Show(mac);
  EXPECT_EQ(s["loader_phase"], "waiting-stream");
  EXPECT_EQ(s["last_fw_answer"], "ok");
  EXPECT_EQ(s["fw_answers_ok"], "1");
  EXPECT_EQ(s["ip"], "10.71.1.20");  // the stream-fed loader keeps the configured address
  // the boot loader answers neither the application's requests nor another Reboot
  ASSERT_TRUE(pc.Send(std::string("?Version"), ip, 9010));
  ASSERT_TRUE(pc.Send(std::string("Reboot"), ip, 9010));
  EXPECT_TRUE(pc.Collect(300).empty());
}

TEST_F(Reboot, AnswersAreCheckedForSenderLengthAndAddress) {
  std::string both = Add("model=KV2R ip=10.71.1.21 segment=both loader_delay=300");
  std::string plain = Add("model=RMT235 ip=10.71.1.22 kvxr=0");
  uint32_t ip = Ip(both);
  Udp other(TestNet::PcB());

  // no challenge asked for
  Bytes zeros(16, 0);
  ASSERT_TRUE(pc.Send(Answer(zeros), ip, 9010));
  EXPECT_EQ(WaitFor(both, "last_fw_answer", "no-challenge"), "no-challenge");

  // the right answer from another address is refused
  Challenge c = Ask(pc, ip);
  ASSERT_EQ(c.token.size(), 16u);
  ASSERT_TRUE(other.Send(Answer(c.token), ip, 9010));
  EXPECT_EQ(WaitFor(both, "last_fw_answer", "other-sender"), "other-sender");

  // too late
  ASSERT_TRUE(sim.Set(both, "fw_challenge_life=100"));
  c = Ask(pc, ip);
  plat::SleepMs(150);
  ASSERT_TRUE(pc.Send(Answer(c.token), ip, 9010));
  EXPECT_EQ(WaitFor(both, "last_fw_answer", "expired"), "expired");
  ASSERT_TRUE(sim.Set(both, "fw_challenge_life=10000"));

  // one character short
  c = Ask(pc, ip);
  Bytes cut = Answer(c.token);
  cut.pop_back();
  ASSERT_TRUE(pc.Send(cut, ip, 9010));
  EXPECT_EQ(WaitFor(both, "last_fw_answer", "malformed"), "malformed");
  EXPECT_EQ(Get(both, "state"), "online");
  EXPECT_EQ(Get(both, "fw_challenges"), "3");

  // a broadcast "Reboot" is for nobody; a first-family device knows no Reboot
  ASSERT_TRUE(pc.Send(std::string("Reboot"), 0x0A470FFFu, 9010));
  ASSERT_TRUE(pc.Send(std::string("Reboot"), Ip(plain), 9010));
  EXPECT_TRUE(pc.Collect(300).empty());
  EXPECT_EQ(Get(both, "fw_challenges"), "3");

  // asked and answered from the other address alike
  c = Ask(other, ip);
  ASSERT_EQ(c.token.size(), 16u);
  ASSERT_TRUE(other.Send(Answer(c.token), ip, 9010));
  EXPECT_EQ(WaitFor(both, "state", "loader"), "loader");
}

TEST_F(Reboot, ChallengeFaultsBreakExactlyTheirRule) {
  std::string mac = Add("model=KV1R ip=10.71.1.23");
  uint32_t ip = Ip(mac);

  ASSERT_TRUE(sim.Set(mac, "fw_challenge=none"));
  EXPECT_TRUE(Ask(pc, ip, 400).raw.empty());

  ASSERT_TRUE(sim.Set(mac, "fw_challenge=malformed"));
  Challenge c = Ask(pc, ip);
  ASSERT_EQ(c.raw.size(), 33u);
  EXPECT_EQ(std::string(c.raw.begin() + 1, c.raw.begin() + 8), "?Reboot");
  EXPECT_TRUE(c.token.empty()) << "not Base64: " << Hex(c.raw);

  ASSERT_TRUE(sim.Set(mac, "fw_challenge=short"));
  c = Ask(pc, ip);
  EXPECT_EQ(c.raw.size(), 32u);
  EXPECT_EQ(c.token.size(), 16u);

  ASSERT_TRUE(sim.Set(mac, "fw_challenge=lead"));
  c = Ask(pc, ip);
  ASSERT_EQ(c.raw.size(), 33u);
  EXPECT_EQ(std::string(c.raw.begin() + 1, c.raw.begin() + 8), "?Reboox");
  EXPECT_EQ(c.token.size(), 16u);

  ASSERT_TRUE(sim.Set(mac, "fw_challenge=foreign"));
  c = Ask(pc, ip);
  ASSERT_EQ(c.raw.size(), 33u);
  EXPECT_NE(c.from, ip);
  EXPECT_EQ(c.from, TestNet::Sim());  // the bridge's address

  ASSERT_TRUE(sim.Set(mac, "fw_challenge=good fw_challenge_delay=300"));
  uint32_t start = plat::TickCount();
  c = Ask(pc, ip);
  EXPECT_GE(plat::TicksSince(start), 250u);
  ASSERT_EQ(c.token.size(), 16u);
  // a delayed challenge still counts: answered, the device goes
  ASSERT_TRUE(pc.Send(Answer(c.token), ip, 9010));
  EXPECT_EQ(WaitFor(mac, "state", "rebooting", 300), "rebooting");
}

TEST_F(Reboot, ALoaderThatNeverComesBackStaysSilent) {
  std::string mac = Add("model=KV3R ip=10.71.1.24 loader=never loader_delay=100");
  uint32_t ip = Ip(mac);
  Challenge c = Ask(pc, ip);
  ASSERT_EQ(c.token.size(), 16u);
  ASSERT_TRUE(pc.Send(Answer(c.token), ip, 9010));
  EXPECT_EQ(WaitFor(mac, "state", "rebooting", 300), "rebooting");
  plat::SleepMs(500);
  EXPECT_EQ(Get(mac, "state"), "rebooting");
  ASSERT_TRUE(pc.Send(RecoveryRequest({}), kLimited, kRecoveryPort));
  ASSERT_TRUE(pc.Send(std::string("?Version"), ip, 9010));
  EXPECT_TRUE(pc.Collect(300).empty());
}

}  // namespace
}  // namespace qs::updtest
