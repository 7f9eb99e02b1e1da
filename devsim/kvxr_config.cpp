// Set-config and the authenticated reboot of KV-xR devices. Both arrive as
// broadcasts on 9010 and name the device by its hardware identifier. A
// set-config is taken only when its MAC, model, serial and text fields are
// the device's own (as its announce carries them) and its DHCP byte is 0 or 1;
// network settings wait for the restart, the operation mode applies at once.
// A reboot challenge is answered in time or not at all.
#include <cstring>
#include <iterator>

#include "devsim/families.h"
#include "devsim/sim.h"
#include "platform/uuid.h"
#include "library/base64.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

enum class Ack : uint8_t { Accept, Refuse, None };
const char* const kAckNames[] = {"accept", "refuse", "none"};
enum class ChallengeFault : uint8_t { Good, Zeros, Malformed, None };
const char* const kChallengeNames[] = {"good", "zeros", "malformed", "none"};
enum class Response : uint8_t { None, Ok, Wrong, WrongNonce, NoChallenge, Expired };
const char* const kResponseNames[] = {"none", "ok", "wrong", "wrong-nonce", "no-challenge", "expired"};
enum class Verdict : uint8_t { None, Accepted, Refused, WrongMac, WrongModel, WrongSerial, WrongText, BadDhcp };
const char* const kVerdictNames[] = {"none",        "accepted",     "refused",   "wrong-mac",
                                     "wrong-model", "wrong-serial", "wrong-text", "bad-dhcp"};

struct KvxrConfigState : FamilyState {
  // faults
  Ack ack = Ack::Accept;
  ChallengeFault challenge = ChallengeFault::Good;
  uint32_t ackDelayMs = 0, challengeDelayMs = 0;
  uint32_t challengeTtlMs = 2000;
  // settings taken, waiting for the restart
  bool pending = false;
  bool pendingDhcp = false;
  uint32_t pendingStatic = 0, pendingMask = 0, pendingGw = 0;
  // the challenge out
  bool hasChallenge = false;
  uint8_t challengeBytes[kChallengeBytes] = {};
  uint8_t challengeNonce[kNonceSize] = {};
  uint64_t challengeExpires = 0;  // event-loop time
  // what came in
  uint32_t setcfgCount = 0, rebootRequests = 0, rebootCount = 0, wrongResponses = 0;
  std::string lastSetcfg = "-";  // payload, hex
  Verdict verdict = Verdict::None;
  std::string setcfgModel, setcfgSerial, setcfgText;  // the last one's fields, as text
  Response lastResponse = Response::None;
};

std::string Number(uint32_t v) { return std::to_string(v); }

class KvxrConfig : public FamilyOf<KvxrConfigState> {
 public:
  using S = KvxrConfigState;

  SettingTable Settings() const override {
    auto f = Bind();
    auto pending = [](const S& s) { return s.pending; };
    return {"KV-xR set-config and reboot",
            {
                f.Choice("ack", &S::ack, kAckNames, "set-config: accept, refuse, or take it without an answer"),
                f.Choice("challenge", &S::challenge, kChallengeNames,
                         "reboot challenge: random, sixteen zero bytes, not Base64, or none"),
                f.Millis("ack_delay", &S::ackDelayMs, "acknowledge a set-config after this many ms"),
                f.Millis("challenge_delay", &S::challengeDelayMs, "send the challenge after this many ms"),
                f.Millis("challenge_ttl", &S::challengeTtlMs,
                         "a challenge is good for this many ms from when it goes out"),
                f.State("pending", "settings wait for the restart",
                        [](const S& s) { return std::string(s.pending ? "1" : "0"); }),
                f.State("pending_dhcp", "DHCP after the restart",
                        [](const S& s) { return std::string(s.pendingDhcp ? "1" : "0"); }, pending),
                f.State("pending_static", "static address after the restart",
                        [](const S& s) { return bytes::FormatIpv4(s.pendingStatic); }, pending),
                f.State("pending_mask", "netmask after the restart",
                        [](const S& s) { return bytes::FormatIpv4(s.pendingMask); }, pending),
                f.State("pending_gw", "gateway after the restart",
                        [](const S& s) { return bytes::FormatIpv4(s.pendingGw); }, pending),
                f.State("setcfg_count", "set-config requests for this device",
                        [](const S& s) { return Number(s.setcfgCount); }),
                f.State("last_setcfg", "payload of the last one, hex", [](const S& s) { return s.lastSetcfg; }),
                f.State("last_setcfg_result", JoinNames(kVerdictNames, std::size(kVerdictNames), "|").c_str(),
                        [](const S& s) { return std::string(kVerdictNames[static_cast<size_t>(s.verdict)]); }),
                f.State("setcfg_model", "its model field up to the first NUL (\\xHH: not printable)",
                        [](const S& s) { return s.setcfgModel; }),
                f.State("setcfg_serial", "its serial field, as setcfg_model", [](const S& s) { return s.setcfgSerial; }),
                f.State("setcfg_text", "its text field, as setcfg_model", [](const S& s) { return s.setcfgText; }),
                f.State("reboot_requests", "reboot requests asking for a challenge",
                        [](const S& s) { return Number(s.rebootRequests); }),
                f.State("reboot_count", "reboots accepted", [](const S& s) { return Number(s.rebootCount); }),
                f.State("wrong_responses", "responses refused", [](const S& s) { return Number(s.wrongResponses); }),
                f.State("last_response", JoinNames(kResponseNames, std::size(kResponseNames), "|").c_str(),
                        [](const S& s) { return std::string(kResponseNames[static_cast<size_t>(s.lastResponse)]); }),
            }};
  }

  std::vector<Route> Routes() override {
    std::vector<Route> r(2);
    r[0].port = kPortKv, r[0].command = kCmdSetConfig, r[0].kind = "setcfg";
    r[0].handle = [this](const Datagram& g) { OnSetConfig(g); };
    r[1].port = kPortKv, r[1].command = kCmdReboot, r[1].kind = "reboot";
    r[1].handle = [this](const Datagram& g) { OnReboot(g); };
    return r;
  }

  void OnBoot(Device& d) override {
    S& s = State(d);
    if (s.pending) {
      d.dhcp = s.pendingDhcp;
      d.staticIp = s.pendingStatic;
      d.mask = s.pendingMask;
      d.gw = s.pendingGw;
      s.pending = false;
    }
    s.hasChallenge = false;
  }

 private:
  // A device takes settings only when they are meant for this very unit: the
  // fields it announces itself, byte for byte.
  Verdict Judge(const Device& d, const SetConfig& c) const {
    if (State(d).ack == Ack::Refuse) return Verdict::Refused;
    if (std::memcmp(c.mac, d.mac.data(), 6) != 0) return Verdict::WrongMac;
    if (c.model != TextField(d.model, kModelField)) return Verdict::WrongModel;
    if (c.serial != TextField(d.serial, kSerialField)) return Verdict::WrongSerial;
    if (c.text != TextField(d.text, kTextField)) return Verdict::WrongText;
    if (c.dhcp > 1) return Verdict::BadDhcp;
    return Verdict::Accepted;
  }

  bool Mine(const Device& d, const Arrival& a, const uint8_t* hwid, Mute kind) {
    return sim().Hears(d, a) && d.kvxr && std::memcmp(d.hwid.data(), hwid, kHwIdSize) == 0 && !d.Muted(kind);
  }

  void OnSetConfig(const Datagram& g) {
    SetConfig c;
    if (!ParseSetConfig(g.frame->payload, &c)) return;
    for (auto& dp : sim().devices()) {
      Device& d = *dp;
      if (!Mine(d, g.at, c.hwid, Mute::SetCfg)) continue;
      S& s = State(d);
      ++s.setcfgCount;
      s.lastSetcfg = bytes::HexText(g.frame->payload.data(), g.frame->payload.size());
      s.setcfgModel = Escaped(c.model.data(), c.model.size());
      s.setcfgSerial = Escaped(c.serial.data(), c.serial.size());
      s.setcfgText = Escaped(c.text.data(), c.text.size());
      s.verdict = Judge(d, c);
      bool accepted = s.verdict == Verdict::Accepted;
      if (accepted) {
        s.pending = true;
        s.pendingDhcp = c.dhcp == 1;
        s.pendingStatic = c.address;
        s.pendingMask = c.netmask;
        s.pendingGw = c.gateway;
        d.opmode = c.mode;
      }
      if (s.ack == Ack::None) continue;
      std::vector<Outgoing> out;
      out.push_back({sim().SignerFor(d, *g.frame)(kReplySetConfigAck, SetConfigAck(accepted)), Oversize::Ack,
                     accepted ? "setcfg-accepted" : "setcfg-refused"});
      sim().Reply(d, g.at, s.ackDelayMs, std::move(out));
    }
  }

  void OnReboot(const Datagram& g) {
    Reboot rb;
    if (!ParseReboot(g.frame->payload, &rb)) return;
    for (auto& dp : sim().devices()) {
      Device& d = *dp;
      if (!Mine(d, g.at, rb.hwid, Mute::Reboot)) continue;
      if (rb.asking) Challenge(d, g);
      else Respond(d, g, rb.response);
    }
  }

  void Challenge(Device& d, const Datagram& g) {
    S& s = State(d);
    ++s.rebootRequests;
    if (s.challenge == ChallengeFault::None || d.Muted(Mute::Challenge)) return;
    std::string text;
    if (s.challenge == ChallengeFault::Malformed) {
      s.hasChallenge = false;
      text = "@@not*base64@@~~~~~~~~~";
    } else {
      plat::NewUuid(s.challengeBytes);
      if (s.challenge == ChallengeFault::Zeros) std::memset(s.challengeBytes, 0, sizeof s.challengeBytes);
      std::memcpy(s.challengeNonce, g.frame->nonce, kNonceSize);
      s.hasChallenge = true;
      s.challengeExpires = EventLoop::Now() + s.challengeDelayMs + s.challengeTtlMs;
      text = kvxr::Base64Encode(s.challengeBytes, sizeof s.challengeBytes);
    }
    std::vector<Outgoing> out;
    out.push_back({sim().SignerFor(d, *g.frame)(kReplyChallenge, ChallengePayload(d.hwid.data(), text)),
                   Oversize::Challenge, "challenge"});
    sim().Reply(d, g.at, s.challengeDelayMs, std::move(out));
  }

  // The response: the same request, its nonce kept, with the challenge's
  // bytes inverted and in Base64.
  void Respond(Device& d, const Datagram& g, const std::string& given) {
    S& s = State(d);
    uint8_t inverted[kChallengeBytes];
    for (size_t i = 0; i < kChallengeBytes; ++i) inverted[i] = static_cast<uint8_t>(~s.challengeBytes[i]);
    if (!s.hasChallenge) s.lastResponse = Response::NoChallenge;
    else if (EventLoop::Now() > s.challengeExpires) s.lastResponse = Response::Expired;
    else if (std::memcmp(g.frame->nonce, s.challengeNonce, kNonceSize) != 0) s.lastResponse = Response::WrongNonce;
    else if (given != kvxr::Base64Encode(inverted, sizeof inverted)) s.lastResponse = Response::Wrong;
    else s.lastResponse = Response::Ok;
    if (s.lastResponse == Response::Expired) s.hasChallenge = false;  // gone for good
    if (s.lastResponse != Response::Ok) {
      ++s.wrongResponses;
      return;
    }
    s.hasChallenge = false;
    ++s.rebootCount;
    sim().Reboot(d);
  }
};

}  // namespace

std::unique_ptr<Family> NewKvxrConfig() { return std::make_unique<KvxrConfig>(); }

}  // namespace qs::devsim
