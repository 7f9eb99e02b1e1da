#include "discovery/wink.h"

#include "discovery/frame.h"
#include "discovery/wink_request.h"

namespace qs::disc {

bool EventSocket::Open(uint32_t address, uint16_t port) {
  if (socket_.Open() && socket_.Bind(address, port) && socket_.SelectRead()) return true;
  socket_.Close();
  return false;
}

WinkKind ChooseWink(const VersionPair& v) {
  return (v.major == 0 && v.minor >= 1 && v.minor <= 136) ? WinkKind::Legacy : WinkKind::Authenticated;
}

namespace {

struct AuthContext {
  const std::vector<uint8_t>* frame;
  WinkOutcome* out;
};

void WinkFrom(uint32_t address, uint32_t, void* ctx) {
  auto* c = static_cast<AuthContext*>(ctx);
  ++c->out->interfaces;
  EventSocket s;
  if (!s.Open(address, 0)) return;
  s.socket().SetBroadcast(true);
  if (s.socket().SendTo(c->frame->data(), c->frame->size(), plat::kBroadcastAddress, kCommandPort) > 0) {
    ++c->out->sent;
    c->out->from.push_back(address);
  }
  s.Close();
}

}  // namespace

WinkOutcome SendWinkTo(IDeviceInfo* device, net::InterfaceQueryFn query) {
  WinkOutcome out;
  if (!device) return out;
  out.kind = ChooseWink(device->GetVersion());
  if (out.kind == WinkKind::Legacy) {
    out.target = device->GetCurrentAddress();
    EventSocket s;
    if (!s.Open(plat::kAnyAddress, 0)) return out;
    s.socket().SetBroadcast(true);
    if (s.socket().SendTo(kWinkText, kWinkTextSize, out.target, kCommandPort) > 0) ++out.sent;
    s.Close();
    return out;
  }
  out.target = plat::kBroadcastAddress;
  uint8_t nonce[16], id[16];
  device->GetHardwareId(id);
  if (!MakeNonce(nonce)) return out;
  std::vector<uint8_t> frame = BuildWinkRequest(nonce, id);
  if (frame.size() != kWinkRequestSize) return out;
  AuthContext c{&frame, &out};
  net::VisitInterfaces(WinkFrom, &c, query);
  return out;
}

void SendWink(IDeviceInfo* device) { SendWinkTo(device); }

}  // namespace qs::disc
