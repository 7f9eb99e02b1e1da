// The plain-text reboot exchange of an update, UDP 9010 (layout in
// library/reboot_challenge.h): "Reboot" to the device's own address, the
// challenge carrying a fresh 16-byte token, and the answer with the token's
// bits inverted, from the same sender. A correct answer restarts the device
// into its boot loader; anything else is refused and leaves it running.
#include <cstring>

#include "devsim/kvxr_update.h"
#include "devsim/sim.h"
#include "library/reboot_challenge.h"
#include "platform/uuid.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

const char* const kAnswerWords[] = {"none", "ok", "wrong", "no-challenge", "other-sender", "expired", "malformed"};

}  // namespace

void KvxrUpdate::OnRebootRequest(const Datagram& g) {
  for (auto& dp : sim().devices()) {
    Device& d = *dp;
    if (!sim().Hears(d, g.at) || !d.kvxr || g.at.dst != d.ip) continue;
    SendChallenge(d, g.at.via, g.at.src, g.at.srcPort);
  }
}

void KvxrUpdate::SendChallenge(Device& d, UdpPort* via, uint32_t to, uint16_t port) {
  S& s = State(d);
  if (s.challenge == ChallengeFault::None) {
    Note(d, "fw-challenge-withheld", "to=" + bytes::FormatIpv4(to));
    return;
  }
  // every request makes a new token; the one before no longer counts
  plat::NewUuid(s.token);
  s.hasToken = true;
  s.tokenFrom = to;
  s.tokenAt = EventLoop::Now();
  ++s.challenges;
  std::vector<uint8_t> c = kvxr::BuildRebootChallenge(s.token);
  uint32_t src = d.ip;
  switch (s.challenge) {
    case ChallengeFault::Malformed:
      std::memset(c.data() + 8, '@', kvxr::kRebootTokenSize + 8);  // 24 characters outside the alphabet
      s.hasToken = false;
      break;
    case ChallengeFault::Short:
      c.resize(kvxr::kRebootChallengeMinSize - 1);
      break;
    case ChallengeFault::Lead:
      c[7] = 'x';  // "?Reboox"
      break;
    case ChallengeFault::Foreign:
      src = 0;  // the bridge's address, not the device's
      break;
    default:
      break;
  }
  Note(d, "fw-challenge", "to=" + bytes::FormatIpv4(to) + ":" + std::to_string(port) +
                              " token=" + bytes::HexText(s.token, sizeof s.token));
  uint64_t epoch = s.epoch;
  auto send = [this, via, src, to, port, c, epoch](Device& dev) {
    if (!dev.Answers() || State(dev).epoch != epoch) return;
    sim().SendFrom(dev, src, *via, to, port, c, "fw-challenge");
  };
  if (s.challengeDelayMs == 0) send(d);
  else sim().AfterFor(d, s.challengeDelayMs, send);
}

void KvxrUpdate::OnRebootAnswer(const Datagram& g) {
  for (auto& dp : sim().devices()) {
    Device& d = *dp;
    if (!sim().Hears(d, g.at) || !d.kvxr || g.at.dst != d.ip) continue;
    S& s = State(d);
    FwAnswer verdict = FwAnswer::Ok;
    if (g.len != kvxr::kRebootAnswerSize) verdict = FwAnswer::Malformed;
    else if (!s.hasToken) verdict = FwAnswer::NoChallenge;
    else if (g.at.src != s.tokenFrom) verdict = FwAnswer::OtherSender;
    else if (EventLoop::Now() - s.tokenAt > s.challengeLifeMs) verdict = FwAnswer::Expired;
    else if (!kvxr::AnswerMatches(g.data, g.len, s.token)) verdict = FwAnswer::Wrong;
    s.lastAnswer = verdict;
    if (verdict != FwAnswer::Ok) {
      // one try per token: a refused answer spends it
      s.hasToken = false;
      ++s.answersRefused;
      Note(d, "fw-answer-refused", std::string("why=") + kAnswerWords[static_cast<size_t>(verdict)] +
                                       " from=" + bytes::FormatIpv4(g.at.src));
      continue;
    }
    s.hasToken = false;
    ++s.answersOk;
    Note(d, "fw-answer-accepted",
         s.loader == LoaderKind::Never ? "loader=never" : "loader_in=" + std::to_string(s.loaderDelayMs) + "ms");
    if (s.loader == LoaderKind::Never) sim().Restart(d, 0, Power::Down);
    else sim().Restart(d, s.loaderDelayMs, Power::Loader);
  }
}

}  // namespace qs::devsim
