// What KV-xR devices answer on 9010: the discover request (operation-mode
// report and announce) and the plain-text version query.
#include <algorithm>
#include <cstring>

#include "devsim/sim.h"

namespace qs::devsim {

Bytes Simulator::Announce(const Device& d) const {
  Bytes p(std::max<size_t>(kAnnounceMinPayload, static_cast<size_t>(d.announceLen)), 0);
  std::memcpy(p.data(), d.hwid, kHwIdSize);
  PutBe32(p, 16, d.ip);
  std::memcpy(p.data() + 20, d.mac, 6);
  p[26] = d.dhcp ? 1 : 0;
  PutBe32(p, 27, d.staticIp);
  PutBe32(p, 31, d.mask);
  PutBe32(p, 35, d.gw);
  std::memcpy(p.data() + 39, d.model.data(), std::min<size_t>(d.model.size(), 8));
  std::memcpy(p.data() + 47, d.serial.data(), std::min<size_t>(d.serial.size(), 24));
  std::memcpy(p.data() + 71, d.text.data(), std::min<size_t>(d.text.size(), 40));
  PutU16(p, 112, d.word112);
  p.resize(static_cast<size_t>(d.announceLen));  // a short announce is a fault mode
  return p;
}

Bytes Simulator::OpModeReport(const Device& d) const {
  Bytes p;
  if (d.opmodeItems == "both" || d.opmodeItems == "id") {
    p.push_back(0xA0);
    p.push_back(16);
    p.insert(p.end(), d.hwid, d.hwid + kHwIdSize);
  }
  if (d.opmodeItems == "both" || d.opmodeItems == "mode") {
    p.push_back(0xA1);
    p.push_back(1);
    p.push_back(d.opmode);
  }
  return p;
}

void Simulator::OnKvDiscover(const Arrival& a, const Request& r) {
  for (auto& dp : devices_) {
    Device& d = *dp;
    if (!Hears(d, a) || !d.kvxr || d.Muted("kv") || !Addressed(d, a.dst, a.seg)) continue;
    uint8_t nonce[kNonceSize];
    SigningNonce(d, r.nonce, nonce);
    std::vector<std::pair<Bytes, std::string>> out;
    Bytes ann = BuildReply(nonce, kReplyAnnounce, Announce(d), Shape(d));
    bool mode = !d.Muted("opmode") && d.opmodeItems != "none";
    Bytes rep = mode ? BuildReply(nonce, kReplyOpMode, OpModeReport(d), Shape(d)) : Bytes();
    if (mode && d.opmodeOrder == "before") out.emplace_back(rep, "opmode");
    for (int i = 0; i < d.announceRepeat; ++i) out.emplace_back(ann, "announce");
    if (mode && d.opmodeOrder == "after") out.emplace_back(rep, "opmode");
    SendLater(d.kvDelayMs, d, a, std::move(out));
  }
}

void Simulator::OnVersionQuery(const Arrival& a) {
  for (auto& dp : devices_) {
    Device& d = *dp;
    if (!Hears(d, a) || !d.kvxr || d.Muted("version") || !Addressed(d, a.dst, a.seg)) continue;
    std::string v = std::to_string(d.verMajor) + "." + std::to_string(d.verMinor);
    if (d.versionFormat == "space") v = " " + v;
    else if (d.versionFormat == "garbage") v = "x" + v;
    else if (d.versionFormat == "nodot") v = std::to_string(d.verMajor);
    std::string s = "\x02Version:" + v;
    if (d.versionFormat == "short") s = "\x02Versio";
    std::vector<std::pair<Bytes, std::string>> out;
    out.emplace_back(Bytes(s.begin(), s.end()), "version");
    SendLater(d.versionDelayMs, d, a, std::move(out));
  }
}

}  // namespace qs::devsim
