// Set-config and the authenticated reboot of KV-xR devices. Both arrive as
// broadcasts on 9010 and name the device by its hardware identifier.
#include <algorithm>
#include <cstring>

#include "devsim/sim.h"
#include "platform/uuid.h"

namespace qs::devsim {

namespace {
constexpr size_t kSetConfigPayload = 108;
constexpr size_t kRebootPayload = 40;
constexpr size_t kResponseSize = 24;
}  // namespace

void Simulator::OnSetConfig(const Arrival& a, const Request& r) {
  if (r.payload.size() != kSetConfigPayload) return;
  const uint8_t* p = r.payload.data();
  for (auto& dp : devices_) {
    Device& d = *dp;
    if (!Hears(d, a) || !d.kvxr || std::memcmp(d.hwid, p, kHwIdSize) != 0 || d.Muted("setcfg")) continue;
    ++d.setcfgCount;
    d.lastSetcfg = Hex(p, kSetConfigPayload);
    // a device takes settings only when they are meant for this very unit
    bool accepted = d.ack != "refuse" && std::memcmp(p + 16, d.mac, 6) == 0;
    if (accepted) {
      // network settings wait for the restart; the operation mode applies at once
      d.pending = true;
      d.pDhcp = p[22] == 1;
      d.pStatic = GetBe32(p + 24);
      d.pMask = GetBe32(p + 28);
      d.pGw = GetBe32(p + 32);
      d.opmode = p[23];
    }
    if (d.ack == "none") continue;
    uint8_t nonce[kNonceSize];
    SigningNonce(d, r.nonce, nonce);
    std::vector<std::pair<Bytes, std::string>> out;
    out.emplace_back(BuildReply(nonce, kReplySetConfigAck, Bytes{static_cast<uint8_t>(accepted ? 1 : 0)}, Shape(d)),
                     accepted ? "setcfg-accepted" : "setcfg-refused");
    SendLater(d.ackDelayMs, d, a, std::move(out));
  }
}

void Simulator::OnReboot(const Arrival& a, const Request& r) {
  if (r.payload.size() != kRebootPayload) return;
  const uint8_t* resp = r.payload.data() + kHwIdSize;
  bool first = std::all_of(resp, resp + kResponseSize, [](uint8_t b) { return b == 0; });
  for (auto& dp : devices_) {
    Device& d = *dp;
    if (!Hears(d, a) || !d.kvxr || std::memcmp(d.hwid, r.payload.data(), kHwIdSize) != 0 || d.Muted("reboot"))
      continue;
    if (first) {
      ++d.rebootRequests;
      if (d.challenge == "none" || d.Muted("challenge")) continue;
      Bytes payload(kRebootPayload, 0);
      std::memcpy(payload.data(), d.hwid, kHwIdSize);
      std::string text;
      if (d.challenge == "malformed") {
        d.hasChallenge = false;
        text = "@@not*base64@@~~~~~~~~~";
      } else {
        plat::NewUuid(d.challengeBytes);
        if (d.challenge == "zeros") std::memset(d.challengeBytes, 0, sizeof d.challengeBytes);
        std::memcpy(d.challengeNonce, r.nonce, kNonceSize);
        d.hasChallenge = true;
        text = Base64Encode(d.challengeBytes, sizeof d.challengeBytes);
      }
      std::memcpy(payload.data() + kHwIdSize, text.data(), std::min(text.size(), kResponseSize));
      uint8_t nonce[kNonceSize];
      SigningNonce(d, r.nonce, nonce);
      std::vector<std::pair<Bytes, std::string>> out;
      out.emplace_back(BuildReply(nonce, kReplyChallenge, payload, Shape(d)), "challenge");
      SendLater(d.challengeDelayMs, d, a, std::move(out));
      continue;
    }
    // the response: the same request, its nonce kept, with the challenge's
    // bytes inverted and in Base64
    std::string given(reinterpret_cast<const char*>(resp),
                      strnlen(reinterpret_cast<const char*>(resp), kResponseSize));
    uint8_t inverted[16];
    for (int i = 0; i < 16; ++i) inverted[i] = static_cast<uint8_t>(~d.challengeBytes[i]);
    d.lastResponse = "wrong";
    if (!d.hasChallenge) d.lastResponse = "no-challenge";
    else if (std::memcmp(r.nonce, d.challengeNonce, kNonceSize) != 0) d.lastResponse = "wrong-nonce";
    else if (given == Base64Encode(inverted, sizeof inverted)) d.lastResponse = "ok";
    if (d.lastResponse != "ok") {
      ++d.wrongResponses;
      continue;
    }
    d.hasChallenge = false;
    ++d.rebootCount;
    BeginReboot(d, d.rebootMs);
  }
}

void Simulator::BeginReboot(Device& d, uint32_t ms) {
  if (!d.online) return;
  d.online = false;
  PlaceAddress(d, false);
  uint64_t id = d.id, gen = generation_;
  After(ms, [this, id, gen] {
    if (gen == generation_) FinishReboot(id);
  });
}

void Simulator::FinishReboot(uint64_t id) {
  Device* d = FindId(id);
  if (!d || d->online) return;
  bool wasDhcp = d->dhcp;
  if (d->pending) {
    d->dhcp = d->pDhcp;
    d->staticIp = d->pStatic;
    d->mask = d->pMask;
    d->gw = d->pGw;
    d->pending = false;
  }
  if (!d->dhcp) {
    d->ip = d->staticIp;
  } else if (!wasDhcp || d->ip == 0) {
    // leaving a static address: the simulator's own DHCP hands out a new one
    d->ip = 0;
    d->ip = Lease(d->segment);
  }
  d->hasChallenge = false;
  d->online = true;
  ++d->boots;
  PlaceAddress(*d, true);
}

}  // namespace qs::devsim
