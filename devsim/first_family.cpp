// What every device answers of the program's own discovery: the legacy text
// scan on 9010, the authenticated discover on 59300, and the two winks (the
// legacy text wink and the authenticated one), recorded in the "winks" journal.
#include <cstring>

#include "devsim/families.h"
#include "devsim/sim.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

enum class Replies : uint8_t { Text, Auth, Both, None };
const char* const kRepliesNames[] = {"text", "auth", "both", "none"};

struct FirstFamilyState : FamilyState {
  Replies replies = Replies::Both;
  std::string textExtra;
  uint32_t textDelayMs = 0, authDelayMs = 0;
  uint32_t winks = 0;
  bool Text() const { return replies == Replies::Text || replies == Replies::Both; }
  bool Auth() const { return replies == Replies::Auth || replies == Replies::Both; }
};

class FirstFamily : public FamilyOf<FirstFamilyState> {
 public:
  SettingTable Settings() const override {
    auto f = Bind();
    return {"first family (text scan, discover on 59300, winks)",
            {
                f.Choice("reply", &FirstFamilyState::replies, kRepliesNames, "which first-family probes it answers"),
                f.Text("text_extra", &FirstFamilyState::textExtra, 200, "after the MAC of the text reply"),
                f.Millis("text_delay", &FirstFamilyState::textDelayMs, "answer the text scan after this many ms"),
                f.Millis("auth_delay", &FirstFamilyState::authDelayMs, "answer the discover on 59300 after this many ms"),
                f.State("wink_count", "winks taken", [](const FirstFamilyState& s) { return std::to_string(s.winks); }),
            }};
  }

  std::vector<Route> Routes() override {
    std::vector<Route> r(4);
    r[0].port = kPortKv, r[0].text = "Scan", r[0].kind = "scan", r[0].probe = true;
    r[0].handle = [this](const Datagram& g) { OnTextScan(g); };
    r[1].port = kPortKv, r[1].text = "Wink", r[1].kind = "wink-text";
    r[1].handle = [this](const Datagram& g) { OnTextWink(g); };
    r[2].port = kPortDiscover, r[2].command = kCmdDiscover, r[2].kind = "discover", r[2].probe = true;
    r[2].handle = [this](const Datagram& g) { OnAuthDiscover(g); };
    r[3].port = kPortKv, r[3].command = kCmdWink, r[3].kind = "wink", r[3].unauthenticated = true;
    r[3].handle = [this](const Datagram& g) { OnAuthWink(g); };
    return r;
  }

 private:
  void OnAttach() override { winks_ = sim().AddJournal("winks"); }

  void OnTextScan(const Datagram& g) {
    for (auto& dp : sim().devices()) {
      Device& d = *dp;
      FirstFamilyState& s = State(d);
      if (!sim().Hears(d, g.at) || !s.Text() || d.Muted(Mute::Text) || !sim().Addressed(d, g.at)) continue;
      Bytes reply = TextReply(d.model, d.ip, d.mac.data(), s.textExtra);
      std::vector<Outgoing> out(d.announceRepeat, {reply, Oversize::Text, "text"});
      sim().Reply(d, g.at, s.textDelayMs, std::move(out));
    }
  }

  void OnAuthDiscover(const Datagram& g) {
    if (!g.frame->payload.empty()) return;
    for (auto& dp : sim().devices()) {
      Device& d = *dp;
      FirstFamilyState& s = State(d);
      if (!sim().Hears(d, g.at) || !s.Auth() || d.Muted(Mute::Auth) || !sim().Addressed(d, g.at)) continue;
      Bytes ann = sim().SignerFor(d, *g.frame)(kReplyAnnounce, AnnouncePayload(d.Announce(), d.announceLen));
      std::vector<Outgoing> out(d.announceRepeat, {ann, Oversize::Announce, "announce"});
      sim().Reply(d, g.at, s.authDelayMs, std::move(out));
    }
  }

  // The legacy wink is a unicast to the device's current address.
  void OnTextWink(const Datagram& g) {
    std::string macs;
    for (auto& dp : sim().devices()) {
      Device& d = *dp;
      if (sim().Hears(d, g.at) && d.ip == g.at.dst) {
        ++State(d).winks;
        macs += (macs.empty() ? "" : ",") + d.Mac();
      }
    }
    Record(g.at, "text", "-", macs, true);
  }

  // The authenticated wink is a broadcast naming the device by its identifier;
  // one that does not authenticate is recorded, and no device takes it.
  void OnAuthWink(const Datagram& g) {
    const Request& r = *g.frame;
    bool shaped = r.payload.size() == kHwIdSize;
    std::string hwid = shaped ? bytes::HexText(r.payload.data(), kHwIdSize) : "-";
    if (!r.digestOk) {
      Record(g.at, "auth", hwid, "", false);
      return;
    }
    std::string macs;
    if (shaped) {
      for (auto& dp : sim().devices()) {
        Device& d = *dp;
        if (sim().Hears(d, g.at) && std::memcmp(d.hwid.data(), r.payload.data(), kHwIdSize) == 0) {
          ++State(d).winks;
          macs += (macs.empty() ? "" : ",") + d.Mac();
        }
      }
    }
    Record(g.at, "auth", hwid, macs, shaped);
  }

  void Record(const Arrival& a, const std::string& kind, const std::string& hwid, const std::string& macs, bool valid) {
    winks_->Push("seq=" + std::to_string(winks_->NextSeq()) + " rseq=" + std::to_string(a.seq) +
                 " seg=" + SegmentName(a.seg) + " src=" + bytes::FormatIpv4(a.src) + ":" + std::to_string(a.srcPort) +
                 " dst=" + bytes::FormatIpv4(a.dst) + " kind=" + kind + " hwid=" + hwid +
                 " mac=" + (macs.empty() ? "-" : macs) + " valid=" + (valid ? "1" : "0"));
  }

  Journal* winks_ = nullptr;
};

}  // namespace

std::unique_ptr<Family> NewFirstFamily() { return std::make_unique<FirstFamily>(); }

}  // namespace qs::devsim
