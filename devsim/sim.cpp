#include "devsim/sim.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/uuid.h"

namespace qs::devsim {

namespace {

constexpr size_t kMaxLog = 50000;   // lines kept per log; older ones go
constexpr size_t kRecvCap = 2048;   // larger datagrams are logged as oversize
constexpr size_t kLogHexCap = 512;  // bytes of a received datagram kept in the log
constexpr uint32_t kSegMask = 0xFFFFF000u;  // the test network's /20 segments
constexpr uint32_t kBaseA = 0x0A470000u;    // 10.71.0.0
constexpr uint32_t kBaseB = 0x0A480000u;    // 10.72.0.0

void Push(std::deque<std::string>& q, std::string line) {
  q.push_back(std::move(line));
  while (q.size() > kMaxLog) q.pop_front();
}

bool SetNonBlocking(int fd) {
  int fl = fcntl(fd, F_GETFL, 0);
  return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

}  // namespace

Simulator::Simulator() = default;

Simulator::~Simulator() {
  for (auto& d : devices_) PlaceAddress(*d, false);
  for (auto& p : ports_) close(p.fd);
  for (auto& c : clients_)
    if (c->fd >= 0) close(c->fd);
  if (listener_ >= 0) close(listener_);
}

uint64_t Simulator::Now() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Simulator::After(uint32_t ms, std::function<void()> fn) { timers_.emplace(Now() + ms, std::move(fn)); }

void Simulator::RunTimers() {
  uint64_t now = Now();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    auto fn = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    fn();
  }
}

int Simulator::NextTimeout() const {
  if (timers_.empty()) return 1000;
  uint64_t now = Now(), due = timers_.begin()->first;
  return due <= now ? 0 : static_cast<int>(std::min<uint64_t>(due - now, 1000));
}

bool Simulator::Start(const Options& options, std::string* error) {
  opt_ = options;
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
  for (uint16_t port : {kPortKv, kPortDiscover}) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      *error = "socket: " + std::string(strerror(errno));
      return false;
    }
    // Large buffers: a scan of a thousand devices is answered in one burst.
    int one = 1, big = 4 << 20;
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &big, sizeof big);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || !SetNonBlocking(fd)) {
      *error = "bind UDP " + std::to_string(port) + ": " + strerror(errno);
      close(fd);
      return false;
    }
    ports_.push_back({port, fd});
  }
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  if (listener_ >= 0) setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(opt_.controlPort);
  a.sin_addr.s_addr = htonl(opt_.controlAddress);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listener_, 64) != 0 || !SetNonBlocking(listener_)) {
    *error = "control port " + FormatIp(opt_.controlAddress) + ":" + std::to_string(opt_.controlPort) + ": " +
             strerror(errno);
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
  std::printf("devsim: %zu devices; control port %s:%u\n", devices_.size(), FormatIp(opt_.controlAddress).c_str(),
              opt_.controlPort);
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
  std::vector<pollfd> fds;
  while (!*stop && !shutdown_) {
    fds.clear();
    for (auto& p : ports_) fds.push_back({p.fd, POLLIN, 0});
    fds.push_back({listener_, POLLIN, 0});
    for (auto& c : clients_)
      fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
    int n = poll(fds.data(), fds.size(), NextTimeout());
    if (n < 0 && errno != EINTR) break;
    RunTimers();
    if (n <= 0) continue;
    for (size_t i = 0; i < ports_.size(); ++i)
      if (fds[i].revents & POLLIN) ReadPort(ports_[i]);
    size_t nc = clients_.size();
    for (size_t i = 0; i < nc; ++i)
      if (fds[ports_.size() + 1 + i].revents) ServeClient(*clients_[i]);
    if (fds[ports_.size()].revents & POLLIN) AcceptClients();
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [](const std::unique_ptr<Client>& c) { return c->fd < 0; }),
                   clients_.end());
  }
  std::printf("devsim: stopping\n");
  std::fflush(stdout);
}

// ---- datagrams ----

void Simulator::ReadPort(const Port& p) {
  // bounded per wake-up so that a flood cannot starve the control port
  for (int k = 0; k < 256; ++k) {
    uint8_t buf[kRecvCap];
    alignas(cmsghdr) char ctl[256];
    sockaddr_in from{};
    iovec iov{buf, sizeof buf};
    msghdr m{};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = ctl;
    m.msg_controllen = sizeof ctl;
    ssize_t r = recvmsg(p.fd, &m, MSG_DONTWAIT);
    if (r < 0) return;
    Arrival a{};
    a.port = p.port;
    a.fd = p.fd;
    a.src = ntohl(from.sin_addr.s_addr);
    a.srcPort = ntohs(from.sin_port);
    int ifindex = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo pi;
        std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
        ifindex = pi.ipi_ifindex;
        a.dst = ntohl(pi.ipi_addr.s_addr);
      }
    }
    if (ifindex == 0 || (ifindex != ifA_ && ifindex != ifB_)) {
      // bridges made after start-up (standalone use) are looked up again
      ifA_ = static_cast<int>(if_nametoindex(opt_.bridgeA.c_str()));
      ifB_ = static_cast<int>(if_nametoindex(opt_.bridgeB.c_str()));
    }
    a.seg = ifindex != 0 && ifindex == ifB_ ? Segment::B : Segment::A;
    a.seq = ++seq_;
    OnDatagram(a, buf, static_cast<size_t>(r), (m.msg_flags & MSG_TRUNC) != 0);
  }
}

bool Simulator::Addressed(const Device& d, uint32_t dst, Segment seg) const {
  if (dst == d.ip || dst == 0xFFFFFFFFu) return true;
  uint32_t base = seg == Segment::B ? kBaseB : kBaseA;
  if (dst == (base | ~kSegMask)) return true;
  return d.mask != 0xFFFFFFFFu && dst == ((d.ip & d.mask) | ~d.mask);
}

void Simulator::Log(const Arrival& a, const std::string& kind, const uint8_t* data, size_t len,
                    const std::string& extra) {
  std::string line = "seq=" + std::to_string(a.seq) + " seg=" + SegmentName(a.seg) + " src=" + FormatIp(a.src) +
                     ":" + std::to_string(a.srcPort) + " dst=" + FormatIp(a.dst) + " port=" + std::to_string(a.port) +
                     " kind=" + kind + extra + " len=" + std::to_string(len) +
                     " hex=" + Hex(data, std::min<size_t>(len, kLogHexCap));
  if (!opt_.quiet) std::printf("recv %s\n", line.c_str());
  Push(log_, std::move(line));
}

void Simulator::RecordWink(const Arrival& a, const std::string& kind, const std::string& hwid,
                           const std::string& macs, bool valid) {
  Push(winks_, "seq=" + std::to_string(++winkSeq_) + " rseq=" + std::to_string(a.seq) + " seg=" + SegmentName(a.seg) +
                   " src=" + FormatIp(a.src) + ":" + std::to_string(a.srcPort) + " dst=" + FormatIp(a.dst) +
                   " kind=" + kind + " hwid=" + hwid + " mac=" + (macs.empty() ? "-" : macs) +
                   " valid=" + (valid ? "1" : "0"));
}

void Simulator::OnDatagram(const Arrival& a, const uint8_t* data, size_t len, bool truncated) {
  auto is = [&](const char* text) { return len == std::strlen(text) && std::memcmp(data, text, len) == 0; };
  Request r;
  bool framed = !truncated && ParseRequest(data, len, &r);
  std::string kind;
  if (truncated) kind = "oversize";
  else if (a.port == kPortKv && is("Scan")) kind = "scan";
  else if (a.port == kPortKv && is("Wink")) kind = "wink-text";
  else if (a.port == kPortKv && is("?Version")) kind = "version";
  else if (framed) {
    switch (r.command) {
      case kCmdDiscover: kind = "discover"; break;
      case kCmdSetConfig: kind = "setcfg"; break;
      case kCmdReboot: kind = "reboot"; break;
      case kCmdWink: kind = "wink"; break;
      default: {
        char b[16];
        std::snprintf(b, sizeof b, "cmd-%04x", r.command);
        kind = b;
      }
    }
  } else {
    kind = "junk";
  }
  Log(a, kind, data, len, framed ? (r.digestOk ? " valid=1" : " valid=0") : "");

  bool trigger = flood_.armed && (kind == "scan" || kind == "discover");
  Flood flood = flood_;
  if (trigger) {
    flood_.armed = false;
    if (flood.durationMs) StartFlood(a.fd, a.src, a.srcPort, flood);
    else SendJunk(a.fd, a.src, a.srcPort, flood.count / 2, flood.size);  // half before the replies
  }

  if (kind == "scan") OnTextScan(a);
  else if (kind == "wink-text") OnTextWink(a);
  else if (kind == "version") OnVersionQuery(a);
  else if (framed && !r.digestOk && r.command == kCmdWink && a.port == kPortKv)
    RecordWink(a, "auth", r.payload.size() == kHwIdSize ? Hex(r.payload.data(), kHwIdSize) : "-", "", false);
  else if (framed && r.digestOk) {
    if (a.port == kPortDiscover) {
      if (r.command == kCmdDiscover && r.payload.empty()) OnAuthDiscover(a, r);
    } else if (r.command == kCmdDiscover && r.payload.empty()) {
      OnKvDiscover(a, r);
    } else if (r.command == kCmdWink) {
      OnAuthWink(a, r);
    } else if (r.command == kCmdSetConfig) {
      OnSetConfig(a, r);
    } else if (r.command == kCmdReboot) {
      OnReboot(a, r);
    }
  }

  if (trigger && !flood.durationMs) SendJunk(a.fd, a.src, a.srcPort, flood.count - flood.count / 2, flood.size);
}

void Simulator::SigningNonce(Device& d, const uint8_t* requestNonce, uint8_t out[kNonceSize]) {
  if (d.digest == "oldnonce") {
    // bound to the request before this one; the very first reply to a random one
    if (d.hasLastNonce) std::memcpy(out, d.lastNonce, kNonceSize);
    else plat::NewUuid(out);
  } else {
    std::memcpy(out, requestNonce, kNonceSize);
  }
  std::memcpy(d.lastNonce, requestNonce, kNonceSize);
  d.hasLastNonce = true;
}

ReplyShape Simulator::Shape(const Device& d) const {
  ReplyShape s;
  s.badDigest = d.digest == "bad";
  s.lengthDelta = d.lengthDelta;
  return s;
}

void Simulator::SendFrom(int fd, const Device* d, uint32_t dst, uint16_t dstPort, const Bytes& data,
                         const std::string& kind) {
  uint32_t srcIp = d ? d->ip : 0;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(dstPort);
  to.sin_addr.s_addr = htonl(dst);
  iovec iov{const_cast<uint8_t*>(data.data()), data.size()};
  alignas(cmsghdr) char ctl[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr m{};
  m.msg_name = &to;
  m.msg_namelen = sizeof to;
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  if (srcIp != 0) {
    m.msg_control = ctl;
    m.msg_controllen = sizeof ctl;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo pi{};
    pi.ipi_spec_dst.s_addr = htonl(srcIp);
    std::memcpy(CMSG_DATA(c), &pi, sizeof pi);
  }
  ssize_t r = -1;
  for (int tries = 0; tries < 50; ++tries) {
    r = sendmsg(fd, &m, 0);
    if (r >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS)) break;
    // a full send queue in a burst: give the receiver a moment
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 2);
  }
  if (r < 0 && srcIp != 0 && errno == EINVAL) {
    // the address is not on this host (standalone use): let routing pick one
    m.msg_control = nullptr;
    m.msg_controllen = 0;
    r = sendmsg(fd, &m, 0);
  }
  std::string line = "seq=" + std::to_string(++sentSeq_) + " mac=" + (d ? d->Mac() : "-") + " src=" +
                     FormatIp(srcIp) + " dst=" + FormatIp(dst) + ":" + std::to_string(dstPort) + " kind=" + kind +
                     " ok=" + (r >= 0 ? "1" : "0") + " len=" + std::to_string(data.size()) +
                     " hex=" + Hex(data.data(), data.size());
  if (!opt_.quiet) std::printf("send %s\n", line.c_str());
  Push(sent_, std::move(line));
}

void Simulator::SendLater(uint32_t ms, const Device& d, const Arrival& a,
                          std::vector<std::pair<Bytes, std::string>> out) {
  if (!d.oversize.empty()) {
    // 3000 bytes: more than the 2048-byte receive buffers, so the receive fails
    std::vector<std::pair<Bytes, std::string>> with;
    for (auto& o : out) {
      if (d.Oversized(o.second)) with.emplace_back(Bytes(3000, 0x55), "oversize");
      with.push_back(std::move(o));
    }
    out = std::move(with);
  }
  if (ms == 0) {
    for (auto& o : out) SendFrom(a.fd, &d, a.src, a.srcPort, o.first, o.second);
    return;
  }
  uint64_t gen = generation_, id = d.id;
  int fd = a.fd;
  uint32_t to = a.src;
  uint16_t port = a.srcPort;
  After(ms, [this, gen, id, fd, to, port, out] {
    Device* dev = FindId(id);
    if (gen != generation_ || !dev || !dev->online) return;
    for (auto& o : out) SendFrom(fd, dev, to, port, o.first, o.second);
  });
}

void Simulator::SendJunk(int fd, uint32_t dst, uint16_t dstPort, uint32_t count, uint32_t size) {
  static std::mt19937 rng(12345);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(dstPort);
  to.sin_addr.s_addr = htonl(dst);
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
          PutU16(b, 4, kReplyAnnounce);
          PutU16(b, 6, static_cast<uint16_t>(len - 28));
        }
        break;
      default:
        break;
    }
    if (sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0) ++sent;
  }
  Push(sent_, "seq=" + std::to_string(++sentSeq_) + " mac=- src=0.0.0.0 dst=" + FormatIp(dst) + ":" +
                  std::to_string(dstPort) + " kind=junk count=" + std::to_string(count) +
                  " ok=" + std::to_string(sent));
}

void Simulator::StartFlood(int fd, uint32_t dst, uint16_t dstPort, const Flood& f) {
  // a steady stream: one share every 5 ms for the whole duration
  uint32_t ticks = std::max<uint32_t>(1, f.durationMs / 5);
  uint64_t gen = generation_;
  for (uint32_t t = 0; t < ticks; ++t) {
    uint32_t share = static_cast<uint32_t>((uint64_t(f.count) * (t + 1)) / ticks - (uint64_t(f.count) * t) / ticks);
    if (share == 0) continue;
    uint32_t size = f.size;
    After(t * 5, [this, gen, fd, dst, dstPort, share, size] {
      if (gen == generation_) SendJunk(fd, dst, dstPort, share, size);
    });
  }
}

}  // namespace qs::devsim
