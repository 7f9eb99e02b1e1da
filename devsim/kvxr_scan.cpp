// What KV-xR devices answer of the library's scan on 9010: the discover
// request (operation-mode report and announce) and the plain-text version
// query.
#include "devsim/families.h"
#include "devsim/sim.h"

namespace qs::devsim {

namespace {

enum class VersionFormat : uint8_t { Good, Space, Garbage, NoDot, Short };
const char* const kVersionFormatNames[] = {"good", "space", "garbage", "nodot", "short"};
enum class Items : uint8_t { Both, Mode, Id, None };
const char* const kItemsNames[] = {"both", "mode", "id", "none"};
enum class Order : uint8_t { Before, After };
const char* const kOrderNames[] = {"before", "after"};

struct KvxrScanState : FamilyState {
  uint32_t discoverDelayMs = 0, versionDelayMs = 0;
  VersionFormat versionFormat = VersionFormat::Good;
  Items items = Items::Both;
  Order order = Order::Before;
};

class KvxrScan : public FamilyOf<KvxrScanState> {
 public:
  SettingTable Settings() const override {
    auto f = Bind();
    return {"KV-xR scan (discover and version on 9010)",
            {
                f.Millis("kv_delay", &KvxrScanState::discoverDelayMs, "answer the discover on 9010 after this many ms"),
                f.Millis("version_delay", &KvxrScanState::versionDelayMs, "answer ?Version after this many ms"),
                f.Choice("version_format", &KvxrScanState::versionFormat, kVersionFormatNames,
                         "version text as is, after a space, after an x, without the minor, or cut short"),
                f.Choice("opmode_items", &KvxrScanState::items, kItemsNames, "items of the operation-mode report"),
                f.Choice("opmode_order", &KvxrScanState::order, kOrderNames,
                         "the operation-mode report before or after the announce"),
            }};
  }

  std::vector<Route> Routes() override {
    std::vector<Route> r(2);
    r[0].port = kPortKv, r[0].command = kCmdDiscover, r[0].kind = "discover", r[0].probe = true;
    r[0].handle = [this](const Datagram& g) { OnDiscover(g); };
    r[1].port = kPortKv, r[1].text = "?Version", r[1].kind = "version";
    r[1].handle = [this](const Datagram& g) { OnVersionQuery(g); };
    return r;
  }

 private:
  void OnDiscover(const Datagram& g) {
    if (!g.frame->payload.empty()) return;
    for (auto& dp : sim().devices()) {
      Device& d = *dp;
      const KvxrScanState& s = State(d);
      if (!sim().Hears(d, g.at) || !d.kvxr || d.Muted(Mute::Kv) || !sim().Addressed(d, g.at)) continue;
      Signer sign = sim().SignerFor(d, *g.frame);
      Bytes ann = sign(kReplyAnnounce, AnnouncePayload(d.Announce(), d.announceLen));
      bool report = !d.Muted(Mute::OpMode) && s.items != Items::None;
      Bytes rep;
      if (report) {
        bool id = s.items == Items::Both || s.items == Items::Id;
        bool mode = s.items == Items::Both || s.items == Items::Mode;
        rep = sign(kReplyOpMode, OpModeReport(id ? d.hwid.data() : nullptr, mode ? &d.opmode : nullptr));
      }
      std::vector<Outgoing> out;
      if (report && s.order == Order::Before) out.push_back({rep, Oversize::OpMode, "opmode"});
      for (uint32_t i = 0; i < d.announceRepeat; ++i) out.push_back({ann, Oversize::Announce, "announce"});
      if (report && s.order == Order::After) out.push_back({rep, Oversize::OpMode, "opmode"});
      sim().Reply(d, g.at, s.discoverDelayMs, std::move(out));
    }
  }

  void OnVersionQuery(const Datagram& g) {
    for (auto& dp : sim().devices()) {
      Device& d = *dp;
      const KvxrScanState& s = State(d);
      if (!sim().Hears(d, g.at) || !d.kvxr || d.Muted(Mute::Version) || !sim().Addressed(d, g.at)) continue;
      std::string v = std::to_string(d.version.major) + "." + std::to_string(d.version.minor);
      if (s.versionFormat == VersionFormat::Space) v = " " + v;
      else if (s.versionFormat == VersionFormat::Garbage) v = "x" + v;
      else if (s.versionFormat == VersionFormat::NoDot) v = std::to_string(d.version.major);
      Bytes reply = VersionReply(v);
      if (s.versionFormat == VersionFormat::Short) reply.resize(7);  // 0x02 "Versio"
      std::vector<Outgoing> out;
      out.push_back({reply, Oversize::Version, "version"});
      sim().Reply(d, g.at, s.versionDelayMs, std::move(out));
    }
  }
};

}  // namespace

std::unique_ptr<Family> NewKvxrScan() { return std::make_unique<KvxrScan>(); }

}  // namespace qs::devsim
