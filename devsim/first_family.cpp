// What every device answers: the legacy text scan on 9010, the authenticated
// discover on 59300, and the two winks.
#include <cstring>

#include "devsim/sim.h"

namespace qs::devsim {

void Simulator::OnTextScan(const Arrival& a) {
  for (auto& dp : devices_) {
    Device& d = *dp;
    if (!Hears(d, a) || !d.replyText || d.Muted("text") || !Addressed(d, a.dst, a.seg)) continue;
    Bytes reply = BuildTextReply(d.model, d.ip, d.mac, d.textExtra);
    std::vector<std::pair<Bytes, std::string>> out(static_cast<size_t>(d.announceRepeat), {reply, "text"});
    SendLater(d.textDelayMs, d, a, std::move(out));
  }
}

void Simulator::OnAuthDiscover(const Arrival& a, const Request& r) {
  for (auto& dp : devices_) {
    Device& d = *dp;
    if (!Hears(d, a) || !d.replyAuth || d.Muted("auth") || !Addressed(d, a.dst, a.seg)) continue;
    uint8_t nonce[kNonceSize];
    SigningNonce(d, r.nonce, nonce);
    Bytes ann = BuildReply(nonce, kReplyAnnounce, Announce(d), Shape(d));
    std::vector<std::pair<Bytes, std::string>> out(static_cast<size_t>(d.announceRepeat), {ann, "announce"});
    SendLater(d.authDelayMs, d, a, std::move(out));
  }
}

// The legacy wink is a unicast to the device's current address.
void Simulator::OnTextWink(const Arrival& a) {
  std::string macs;
  for (auto& dp : devices_) {
    Device& d = *dp;
    if (Hears(d, a) && d.ip == a.dst) {
      ++d.winkCount;
      macs += (macs.empty() ? "" : ",") + d.Mac();
    }
  }
  RecordWink(a, "text", "-", macs, true);
}

// The authenticated wink is a broadcast naming the device by its identifier.
void Simulator::OnAuthWink(const Arrival& a, const Request& r) {
  bool shaped = r.payload.size() == kHwIdSize;
  std::string macs;
  if (shaped) {
    for (auto& dp : devices_) {
      Device& d = *dp;
      if (Hears(d, a) && std::memcmp(d.hwid, r.payload.data(), kHwIdSize) == 0) {
        ++d.winkCount;
        macs += (macs.empty() ? "" : ",") + d.Mac();
      }
    }
  }
  RecordWink(a, "auth", shaped ? Hex(r.payload.data(), kHwIdSize) : "-", macs, shaped);
}

}  // namespace qs::devsim
