#include "devsim/sim.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/uuid.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

constexpr size_t kRecvCap = 2048;           // larger datagrams are logged as oversize
constexpr size_t kLogHexCap = 512;          // bytes of a received datagram kept in the log
constexpr int kReadsPerWake = 256;          // so that a flood cannot starve the control port

}  // namespace

Simulator::Simulator() {
  opt_.manageAddresses = false;  // until Start: the tables can be tried without a network
  for (const char* name : {"log", "sent"}) journals_.push_back(std::make_unique<Journal>(name));
  received_ = journals_[0].get();
  sent_ = journals_[1].get();
  tables_.push_back(CoreSettings());
  for (const auto& s : tables_.back().settings) keys_[s.key] = &s;
}

Simulator::~Simulator() {
  for (auto& d : devices_) PlaceAddress(*d, false);
  for (auto& c : clients_)
    if (c.second->fd >= 0) close(c.second->fd);
  if (listener_ >= 0) close(listener_);
}

bool Simulator::AddFamily(std::unique_ptr<Family> family, std::string* error) {
  family->Attach(this, families_.size());
  SettingTable table = family->Settings();
  for (const auto& s : table.settings)
    if (keys_.count(s.key)) {
      *error = "setting " + s.key + " of " + table.family + " is declared twice";
      return false;
    }
  for (auto& r : family->Routes()) {
    if (r.text.empty()) commandKinds_.emplace(r.command, r.kind);
    ports_[r.port].routes.push_back(std::move(r));
  }
  tables_.push_back(std::move(table));
  keys_.clear();
  for (const auto& t : tables_)
    for (const auto& s : t.settings) keys_[s.key] = &s;
  families_.push_back(std::move(family));
  return true;
}

Journal* Simulator::AddJournal(const std::string& name) {
  journals_.push_back(std::make_unique<Journal>(name));
  return journals_.back().get();
}

bool Simulator::Start(const Options& options, std::string* error) {
  opt_ = options;
  if (!loop_.Open(error)) return false;
  ifA_ = static_cast<int>(if_nametoindex(opt_.bridgeA.c_str()));
  ifB_ = static_cast<int>(if_nametoindex(opt_.bridgeB.c_str()));
  if (opt_.manageAddresses && !addresses_.Open(error)) return false;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* i = list; i; i = i->ifa_next)
      if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET)
        preexisting_.insert(ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr));
    freeifaddrs(list);
  }
  for (auto& [number, port] : ports_) {
    port.udp = std::make_unique<UdpPort>();
    if (!port.udp->Open(number, error)) return false;
    Port* p = &port;
    port.watch = loop_.Watch(port.udp->fd(), false, [this, p](uint32_t) { ReadPort(*p); });
    if (!port.watch) {
      *error = "cannot watch UDP " + std::to_string(number);
      return false;
    }
  }
  JoinGroups();
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int one = 1;
  if (listener_ >= 0) setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(opt_.controlPort);
  a.sin_addr.s_addr = htonl(opt_.controlAddress);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 64) != 0) {
    *error = "control port " + bytes::FormatIpv4(opt_.controlAddress) + ":" + std::to_string(opt_.controlPort) +
             ": " + strerror(errno);
    return false;
  }
  listenerWatch_ = loop_.Watch(listener_, false, [this](uint32_t) { AcceptClients(); });
  if (!listenerWatch_) {
    *error = "cannot watch the control port";
    return false;
  }
  if (!opt_.configFile.empty() && !LoadConfig(opt_.configFile, error)) return false;
  for (const auto& settings : opt_.devices) {
    std::vector<std::string> words, macs;
    if (!SplitWords(settings, &words, error) || !AddDevices(words, 0, &macs, error)) {
      *error = "--device " + settings + ": " + *error;
      return false;
    }
  }
  if (!opt_.readyFile.empty()) {
    std::ofstream f(opt_.readyFile);
    f << getpid() << "\n";
    if (!f) {
      *error = "cannot write " + opt_.readyFile;
      return false;
    }
  }
  std::printf("devsim: %zu devices; control port %s:%u\n", devices_.size(),
              bytes::FormatIpv4(opt_.controlAddress).c_str(), opt_.controlPort);
  std::fflush(stdout);
  return true;
}

bool Simulator::LoadConfig(const std::string& path, std::string* error) {
  std::ifstream f(path);
  if (!f) {
    *error = "cannot read " + path;
    return false;
  }
  std::string line;
  int n = 0;
  while (std::getline(f, line)) {
    ++n;
    if (line.size() > 8192) {
      *error = path + ":" + std::to_string(n) + ": line too long";
      return false;
    }
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::vector<std::string> words, macs;
    std::string why;
    if (!SplitWords(line, &words, &why)) {
      *error = path + ":" + std::to_string(n) + ": " + why;
      return false;
    }
    if (words.empty()) continue;
    // a line is a device ("model=KV1R ...") or the same with a leading "add"
    size_t from = words[0] == "add" ? 1 : 0;
    if (!AddDevices(words, from, &macs, &why)) {
      *error = path + ":" + std::to_string(n) + ": " + why;
      return false;
    }
  }
  return true;
}

void Simulator::Run(volatile std::sig_atomic_t* stop) {
  while (!*stop && !shutdown_) loop_.RunOnce(1000);
  std::printf("devsim: stopping\n");
  std::fflush(stdout);
}

// ---- datagrams ----

Segment Simulator::SegmentOf(int ifindex) {
  if (ifindex == 0 || (ifindex != ifA_ && ifindex != ifB_)) {
    // bridges made after start-up (standalone use) are looked up again
    ifA_ = static_cast<int>(if_nametoindex(opt_.bridgeA.c_str()));
    ifB_ = static_cast<int>(if_nametoindex(opt_.bridgeB.c_str()));
  }
  return ifindex != 0 && ifindex == ifB_ ? Segment::B : Segment::A;
}

void Simulator::ReadPort(Port& p) {
  for (int k = 0; k < kReadsPerWake; ++k) {
    uint8_t buf[kRecvCap];
    Received r;
    if (!p.udp->Receive(buf, sizeof buf, &r)) return;
    Arrival a;
    a.via = p.udp.get();
    a.port = p.udp->port();
    a.src = r.src;
    a.srcPort = r.srcPort;
    a.dst = r.dst;
    a.seg = SegmentOf(r.ifindex);
    a.seq = received_->NextSeq();
    OnDatagram(p, a, buf, std::min(r.len, sizeof buf), r.truncated);
  }
}

bool Simulator::Addressed(const Device& d, const Arrival& a) const {
  constexpr uint32_t kSegMask = 0xFFFFF000u;  // the test network's /20 segments
  if (a.dst == d.ip || a.dst == 0xFFFFFFFFu) return true;
  uint32_t base = a.seg == Segment::B ? 0x0A480000u : 0x0A470000u;
  if (a.dst == (base | ~kSegMask)) return true;
  return d.mask != 0xFFFFFFFFu && a.dst == ((d.ip & d.mask) | ~d.mask);
}

// Multicast groups of the routes, joined on both bridges (the devices'
// segments); without bridges (standalone use) there is nothing to join. A
// group that cannot be joined costs only what arrives through it.
void Simulator::JoinGroups() {
  for (auto& [number, port] : ports_)
    for (const auto& r : port.routes) {
      if (r.group == 0) continue;
      for (int ifindex : {ifA_, ifB_}) {
        std::string why;
        if (ifindex != 0 && !port.udp->Join(r.group, ifindex, &why))
          std::fprintf(stderr, "devsim: UDP %u: %s\n", static_cast<unsigned>(number), why.c_str());
      }
    }
}

void Simulator::LogReceived(const Arrival& a, const std::string& kind, const uint8_t* data, size_t len,
                            const std::string& extra, size_t logBytes) {
  std::string line = "seq=" + std::to_string(a.seq) + " seg=" + SegmentName(a.seg) + " src=" +
                     bytes::FormatIpv4(a.src) + ":" + std::to_string(a.srcPort) + " dst=" + bytes::FormatIpv4(a.dst) +
                     " port=" + std::to_string(a.port) + " kind=" + kind + extra + " len=" + std::to_string(len) +
                     " hex=" + bytes::HexText(data, std::min({len, kLogHexCap, logBytes}));
  if (!opt_.quiet) std::printf("recv %s\n", line.c_str());
  received_->Push(std::move(line));
}

void Simulator::OnDatagram(Port& p, const Arrival& a, const uint8_t* data, size_t len, bool truncated) {
  Request req;
  bool framed = !truncated && ParseRequest(data, len, &req);
  const Route* route = nullptr;
  std::string kind;
  if (truncated) {
    kind = "oversize";
  } else {
    for (const auto& r : p.routes) {
      bool match = r.match            ? r.match(data, len)
                   : r.text.empty() ? framed && r.command == req.command
                                    : len == r.text.size() && std::memcmp(data, r.text.data(), len) == 0;
      if (match) {
        route = &r;
        break;
      }
    }
    // a binary message of its own is no authenticated frame, whatever its
    // bytes happen to look like
    if (route && route->match) framed = false;
    if (route) {
      kind = route->kind;
    } else if (framed) {
      auto known = commandKinds_.find(req.command);
      if (known != commandKinds_.end()) {
        kind = known->second;  // a request of another port: logged by its name, not answered
      } else {
        char b[16];
        std::snprintf(b, sizeof b, "cmd-%04x", req.command);
        kind = b;
      }
    } else {
      kind = "junk";
    }
  }
  LogReceived(a, kind, data, len, framed ? (req.digestOk ? " valid=1" : " valid=0") : "",
              route ? route->logBytes : kLogHexCap);

  bool trigger = route && route->probe && flood_.armed;
  Flood flood = flood_;
  if (trigger) {
    flood_.armed = false;
    if (flood.durationMs) StartFlood(*a.via, a.src, a.srcPort, flood);
    else SendJunk(*a.via, a.src, a.srcPort, flood.count / 2, flood.size);  // half before the replies
  }
  if (route && (!framed || req.digestOk || route->unauthenticated)) {
    Datagram dg;
    dg.at = a;
    dg.data = data;
    dg.len = len;
    dg.frame = framed ? &req : nullptr;
    route->handle(dg);
  }
  if (trigger && !flood.durationMs) SendJunk(*a.via, a.src, a.srcPort, flood.count - flood.count / 2, flood.size);
}

Signer Simulator::SignerFor(Device& d, const Request& r) {
  Signer s;
  if (d.digest == Digest::OldNonce) {
    // bound to the request before this one; the very first reply to a random one
    if (d.hasLastNonce) std::memcpy(s.nonce, d.lastNonce, kNonceSize);
    else plat::NewUuid(s.nonce);
  } else {
    std::memcpy(s.nonce, r.nonce, kNonceSize);
  }
  std::memcpy(d.lastNonce, r.nonce, kNonceSize);
  d.hasLastNonce = true;
  s.shape.badDigest = d.digest == Digest::Bad;
  s.shape.lengthDelta = d.lengthDelta;
  return s;
}

void Simulator::Send(UdpPort& via, const Device* d, uint32_t dst, uint16_t dstPort, const Bytes& data,
                     const std::string& kind) {
  SendVia(via, d, d ? d->ip : 0, 0, dst, dstPort, data, kind);
}

void Simulator::SendFrom(const Device& d, uint32_t src, UdpPort& via, uint32_t dst, uint16_t dstPort,
                         const Bytes& data, const std::string& kind) {
  SendVia(via, &d, src, 0, dst, dstPort, data, kind);
}

void Simulator::Broadcast(const Device& d, uint16_t port, uint16_t dstPort, const Bytes& data,
                          const std::string& kind) {
  auto p = ports_.find(port);
  if (p == ports_.end() || !p->second.udp) return;
  if (ifA_ == 0 || ifB_ == 0) SegmentOf(0);  // bridges made after start-up
  if (d.segment != Segment::B) SendVia(*p->second.udp, &d, d.ip, ifA_, 0xFFFFFFFFu, dstPort, data, kind);
  if (d.segment != Segment::A) SendVia(*p->second.udp, &d, d.ip, ifB_, 0xFFFFFFFFu, dstPort, data, kind);
}

void Simulator::SendVia(UdpPort& via, const Device* d, uint32_t srcIp, int ifindex, uint32_t dst, uint16_t dstPort,
                        const Bytes& data, const std::string& kind) {
  bool ok = via.Send(srcIp, dst, dstPort, data.data(), data.size(), ifindex);
  std::string line = "seq=" + std::to_string(sent_->NextSeq()) + " mac=" + (d ? d->Mac() : "-") +
                     " src=" + bytes::FormatIpv4(srcIp) + " dst=" + bytes::FormatIpv4(dst) + ":" +
                     std::to_string(dstPort) + " kind=" + kind + " ok=" + (ok ? "1" : "0") +
                     " len=" + std::to_string(data.size()) + " hex=" + bytes::HexText(data.data(), data.size());
  if (!opt_.quiet) std::printf("send %s\n", line.c_str());
  sent_->Push(std::move(line));
}

void Simulator::Reply(Device& d, const Arrival& a, uint32_t ms, std::vector<Outgoing> out) {
  if (!d.oversize.empty()) {
    // longer than the receive buffers, so the receive fails
    std::vector<Outgoing> with;
    for (auto& o : out) {
      if (d.oversize.Has(o.oversize)) with.push_back({Bytes(d.oversizeSize, 0x55), o.oversize, "oversize"});
      with.push_back(std::move(o));
    }
    out = std::move(with);
  }
  UdpPort* via = a.via;
  uint32_t to = a.src;
  uint16_t port = a.srcPort;
  if (ms == 0) {
    for (auto& o : out) Send(*via, &d, to, port, o.data, o.kind);
    return;
  }
  AfterFor(d, ms, [this, via, to, port, out](Device& dev) {
    if (!dev.Answers()) return;
    for (auto& o : out) Send(*via, &dev, to, port, o.data, o.kind);
  });
}

void Simulator::AfterFor(const Device& d, uint32_t ms, std::function<void(Device&)> fn) {
  uint64_t id = d.id;
  loop_.After(ms, [this, id, fn] {
    if (Device* dev = FindId(id)) fn(*dev);
  });
}

}  // namespace qs::devsim
