// Junk traffic: datagrams of random bytes, some shaped like replies, sent at
// once to an address, or around the replies to the next scan or discover.
#include <algorithm>
#include <random>

#include "devsim/sim.h"
#include "runtime/bytes.h"

namespace qs::devsim {

UdpPort* Simulator::DefaultPort() { return ports_.empty() ? nullptr : ports_.begin()->second.udp.get(); }

void Simulator::SendJunk(UdpPort& via, uint32_t dst, uint16_t dstPort, uint32_t count, uint32_t size) {
  static std::mt19937 rng(12345);
  uint32_t sent = 0;
  for (uint32_t i = 0; i < count; ++i) {
    size_t len = 1 + rng() % std::max<uint32_t>(size, 1);
    Bytes b(len);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    switch (i % 4) {
      case 1:  // looks like a text reply but is not one
        b.front() = 0x02;
        b.back() = 0x03;
        break;
      case 2:  // shaped like an announce whose digest cannot match
        if (len >= 28) {
          bytes::PutLe16(b.data() + 4, kReplyAnnounce);
          bytes::PutLe16(b.data() + 6, static_cast<uint16_t>(len - 28));
        }
        break;
      default:
        break;
    }
    if (via.Send(0, dst, dstPort, b.data(), b.size())) ++sent;
  }
  sent_->Push("seq=" + std::to_string(sent_->NextSeq()) + " mac=- src=0.0.0.0 dst=" + bytes::FormatIpv4(dst) + ":" +
              std::to_string(dstPort) + " kind=junk count=" + std::to_string(count) + " ok=" + std::to_string(sent));
}

void Simulator::StartFlood(UdpPort& via, uint32_t dst, uint16_t dstPort, const Flood& f) {
  // a steady stream: one share every 5 ms for the whole duration
  uint32_t ticks = std::max<uint32_t>(1, f.durationMs / 5);
  UdpPort* p = &via;
  for (uint32_t t = 0; t < ticks; ++t) {
    uint32_t share = static_cast<uint32_t>((uint64_t(f.count) * (t + 1)) / ticks - (uint64_t(f.count) * t) / ticks);
    if (share == 0) continue;
    uint32_t size = f.size;
    loop_.After(t * 5, [this, p, dst, dstPort, share, size] { SendJunk(*p, dst, dstPort, share, size); });
  }
}

bool Simulator::ControlFlood(const std::vector<std::string>& w, std::string* error) {
  if (w.size() < 2) {
    *error = "usage: flood count=N [size=S] [duration=MS] [to=IP:PORT] | flood off";
    return false;
  }
  if (w[1] == "off") {
    flood_ = Flood();
    return true;
  }
  Flood f;
  uint32_t toIp = 0, toPort = 0;
  bool haveTo = false, haveCount = false;
  for (size_t i = 1; i < w.size(); ++i) {
    std::string k, v;
    if (!SplitKeyValue(w[i], &k, &v)) {
      *error = "expected key=value: " + w[i];
      return false;
    }
    if (k == "count") {
      if (!ParseCount(v, 1000000, &f.count)) {
        *error = "count 0 to 1000000";
        return false;
      }
      haveCount = true;
    } else if (k == "size") {
      if (!ParseCount(v, 1400, &f.size) || f.size == 0) {
        *error = "size 1 to 1400";
        return false;
      }
    } else if (k == "duration") {
      if (!ParseCount(v, 600000, &f.durationMs)) {
        *error = "duration 0 to 600000 ms";
        return false;
      }
    } else if (k == "to") {
      size_t colon = v.find(':');
      if (colon == std::string::npos || !bytes::ParseIpv4(v.substr(0, colon), toIp) ||
          !ParseCount(v.substr(colon + 1), 65535, &toPort) || toPort == 0) {
        *error = "to=IP:PORT";
        return false;
      }
      haveTo = true;
    } else {
      *error = "unknown flood key " + k;
      return false;
    }
  }
  if (!haveCount) {
    *error = "flood needs count=N";
    return false;
  }
  if (haveTo) {
    UdpPort* via = DefaultPort();
    if (!via) {
      *error = "no port to send from";
      return false;
    }
    if (f.durationMs) StartFlood(*via, toIp, static_cast<uint16_t>(toPort), f);
    else SendJunk(*via, toIp, static_cast<uint16_t>(toPort), f.count, f.size);
  } else {
    f.armed = true;
    flood_ = f;
  }
  return true;
}

}  // namespace qs::devsim
