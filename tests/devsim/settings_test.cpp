// The simulator's settings tables, through its control commands (no network
// needed): every key that add, set, show, keys and help know comes from one
// row of a table, so a family that declares one more row is complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "devsim/families.h"
#include "devsim/sim.h"

namespace qs::devsim {
namespace {

std::vector<std::string> Ctl(Simulator& sim, const std::string& line) {
  std::vector<std::string> out;
  std::string why;
  EXPECT_TRUE(sim.Control(line, &out, &why)) << line << ": " << why;
  return out;
}

std::string Refused(Simulator& sim, const std::string& line) {
  std::vector<std::string> out;
  std::string why;
  EXPECT_FALSE(sim.Control(line, &out, &why)) << line;
  return why;
}

std::map<std::string, std::string> Show(Simulator& sim, const std::string& mac) {
  std::map<std::string, std::string> m;
  for (const auto& l : Ctl(sim, "show " + mac)) m[l.substr(0, l.find('='))] = l.substr(l.find('=') + 1);
  return m;
}

std::string AddOne(Simulator& sim, const std::string& settings) {
  auto out = Ctl(sim, "add " + settings);
  return out.size() == 1 && out[0].compare(0, 4, "mac=") == 0 ? out[0].substr(4) : "";
}

// A family that does nothing but keep one number per device.
struct WidgetState : FamilyState {
  uint32_t widgets = 3;
};
class Widgets : public FamilyOf<WidgetState> {
 public:
  SettingTable Settings() const override {
    auto f = Bind();
    return {"widgets", {f.Number<uint32_t>("widgets", &WidgetState::widgets, 9, "widgets on the front panel")}};
  }
  std::vector<Route> Routes() override { return {}; }
};

class Tables : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(AddProductFamilies(sim, &why)) << why;
  }
  Simulator sim;
};

TEST_F(Tables, KeysHelpAndShowComeFromTheSameRows) {
  std::vector<std::string> keys = Ctl(sim, "keys");
  std::set<std::string> unique(keys.begin(), keys.end());
  EXPECT_EQ(unique.size(), keys.size()) << "a key listed twice";
  for (const char* k : {"model", "mac", "ip", "mute", "oversize", "reboot_ms", "state", "reply", "wink_count",
                        "kv_delay", "opmode_order", "ack", "challenge", "pending_static", "last_response",
                        "reboot_delay", "challenge_ttl", "oversize_size", "last_setcfg_result", "setcfg_text"})
    EXPECT_TRUE(unique.count(k)) << k;

  // help has one line per key, with its values when it can be set
  std::vector<std::string> help = Ctl(sim, "help");
  for (const auto& k : keys) {
    size_t lines = std::count_if(help.begin(), help.end(), [&](const std::string& l) {
      return l.compare(0, k.size() + 3, "  " + k + "=") == 0 || l.compare(0, k.size() + 10, "  " + k + " (shown)") == 0;
    });
    EXPECT_EQ(lines, 1u) << k;
  }
  EXPECT_NE(std::find(help.begin(), help.end(),
                      "  digest=good|bad|oldnonce  trailer of authenticated replies: right, one bit off, or signed "
                      "with the request before"),
            help.end());

  // show prints keys of the list only, and every one that is not conditional
  std::string mac = AddOne(sim, "model=KV2R");
  ASSERT_FALSE(mac.empty());
  auto shown = Show(sim, mac);
  for (const auto& kv : shown) EXPECT_TRUE(unique.count(kv.first)) << kv.first;
  EXPECT_EQ(shown.size(), keys.size() - 4);  // pending_dhcp, _static, _mask, _gw only while pending
  EXPECT_EQ(shown["model"], "KV2R");
  EXPECT_EQ(shown["kvxr"], "1");
  EXPECT_EQ(shown["mac"], mac);
}

TEST_F(Tables, OneMoreRowIsASettingEverywhere) {
  std::string why;
  ASSERT_TRUE(sim.AddFamily(std::make_unique<Widgets>(), &why)) << why;
  auto keys = Ctl(sim, "keys");
  EXPECT_EQ(keys.back(), "widgets");
  auto help = Ctl(sim, "help");
  EXPECT_EQ(help.back(), "  widgets=0..9  widgets on the front panel");
  EXPECT_EQ(help[help.size() - 2], "widgets:");

  std::string plain = AddOne(sim, "model=RMT235");
  std::string seven = AddOne(sim, "model=KV1R widgets=7");
  EXPECT_EQ(Show(sim, plain)["widgets"], "3");  // the state's own default
  EXPECT_EQ(Show(sim, seven)["widgets"], "7");
  Ctl(sim, "set " + plain + " widgets=9");
  EXPECT_EQ(Show(sim, plain)["widgets"], "9");
  EXPECT_NE(Refused(sim, "set " + plain + " widgets=10").find("widgets: 0..9"), std::string::npos);
  EXPECT_EQ(Show(sim, plain)["widgets"], "9");
  Refused(sim, "add widgets=many");
  // a family cannot take a key that is declared already
  EXPECT_FALSE(sim.AddFamily(std::make_unique<Widgets>(), &why));
  EXPECT_NE(why.find("widgets"), std::string::npos);
}

TEST_F(Tables, ValuesAreCheckedAndASetChangesAllOrNothing) {
  std::string mac = AddOne(sim, "model=KV1R ip=10.71.1.50 mute=kv,version oversize=ack");
  auto s = Show(sim, mac);
  EXPECT_EQ(s["mute"], "kv,version");
  EXPECT_EQ(s["oversize"], "ack");
  EXPECT_EQ(s["state"], "online");
  EXPECT_NE(Refused(sim, "set " + mac + " ip=10.71.1.51 mute=kv,loud").find("mute"), std::string::npos);
  EXPECT_EQ(Show(sim, mac)["ip"], "10.71.1.50");
  EXPECT_NE(Refused(sim, "set " + mac + " state=rebooting").find("state value"), std::string::npos);
  EXPECT_NE(Refused(sim, "set " + mac + " mac=02-00-00-00-00-01").find("cannot change"), std::string::npos);
  EXPECT_NE(Refused(sim, "add colour=red").find("colour"), std::string::npos);
  for (const char* bad : {"ip=1.2.3", "hwid=0011", "version=1", "lenoff=101", "opmode=256", "segment=C",
                          "oversize_size=0", "oversize_size=65508", "challenge_ttl=600001", "reboot_delay=-1",
                          "serial=" "1234567890123456789012345", "dhcp=maybe", "announce_len=1401", "model="})
    Refused(sim, std::string("add ") + bad);
  Ctl(sim, "set " + mac + " mute=- lenoff=-100 version=2.500 segment=b dhcp=yes");
  s = Show(sim, mac);
  EXPECT_EQ(s["mute"], "-");
  EXPECT_EQ(s["lenoff"], "-100");
  EXPECT_EQ(s["version"], "2.500");
  EXPECT_EQ(s["segment"], "B");
  EXPECT_EQ(s["dhcp"], "1");
  // the list line picks its keys out of show
  auto list = Ctl(sim, "list");
  ASSERT_EQ(list.size(), 1u);
  const std::string head = "mac=" + mac + " model=KV1R hwid=";
  EXPECT_EQ(list[0].compare(0, head.size(), head), 0) << list[0];
  EXPECT_NE(list[0].find(" ip=10.71.1.50 dhcp=1 serial=QS000001 version=2.500 segment=B state=online"),
            std::string::npos)
      << list[0];
}

TEST_F(Tables, AddNamesDevicesAndCountsThemUp) {
  auto out = Ctl(sim, "add count=3 model=KV3R ip=10.72.0.10 segment=B");
  ASSERT_EQ(out.size(), 3u);
  std::set<std::string> hwids;
  for (size_t i = 0; i < 3; ++i) {
    auto s = Show(sim, out[i].substr(4));
    EXPECT_EQ(s["ip"], "10.72.0." + std::to_string(10 + i));
    EXPECT_EQ(s["static"], s["ip"]);
    EXPECT_EQ(s["gw"], "10.72.0.254");
    EXPECT_EQ(s["serial"].compare(0, 2, "QS"), 0);
    hwids.insert(s["hwid"]);
  }
  EXPECT_EQ(hwids.size(), 3u);
  Refused(sim, "add count=2 model=KV1R serial=ONE");
  Refused(sim, "add " + out[0]);  // that MAC exists
  std::string leased = AddOne(sim, "model=KV1R dhcp=1");
  EXPECT_EQ(Show(sim, leased)["ip"], "10.71.8.1");
  EXPECT_EQ(Show(sim, leased)["static"], "0.0.0.0");
  Ctl(sim, "remove " + out[1].substr(4));
  EXPECT_EQ(Ctl(sim, "counts")[0], "devices=3 log=0 sent=0 winks=0 fw=0");
  Ctl(sim, "reset");
  EXPECT_EQ(Ctl(sim, "counts")[0], "devices=0 log=0 sent=0 winks=0 fw=0");
}

}  // namespace
}  // namespace qs::devsim
