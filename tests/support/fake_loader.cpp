#include "tests/support/fake_loader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/tick.h"
#include "platform/uuid.h"

namespace qs::test {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// RFC 4648 Base64 of 16 bytes: 24 characters.
std::string Base64(const uint8_t* p, size_t n) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = p[i] << 16 | (i + 1 < n ? p[i + 1] << 8 : 0) | (i + 2 < n ? p[i + 2] : 0);
    s.push_back(k[v >> 18 & 63]);
    s.push_back(k[v >> 12 & 63]);
    s.push_back(i + 1 < n ? k[v >> 6 & 63] : '=');
    s.push_back(i + 2 < n ? k[v & 63] : '=');
  }
  return s;
}

bool EnterDeviceNamespace() {
  const char* ns = std::getenv("QS_NET_DEVNS");
  if (!ns || !*ns) return false;
  int fd = open((std::string("/run/netns/") + ns).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = setns(fd, CLONE_NEWNET) == 0;
  close(fd);
  return ok;
}

constexpr uint32_t kGroup = 0xEF000040;  // 239.0.0.64
constexpr uint16_t kStreamPort = 60892, kBootPort = 60889, kRecoveryPort = 60894, kRebootPort = 9010;

}  // namespace

std::vector<uint8_t> RamProgramFile(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

FakeLoader::FakeLoader() = default;
FakeLoader::~FakeLoader() { Stop(); }

bool FakeLoader::Start(const LoaderSettings& s) {
  s_ = s;
  std::mutex m;
  std::condition_variable cv;
  int ready = 0;  // 1 ok, -1 failed
  raw_ = std::thread([&] {
    bool ok = EnterDeviceNamespace();
    if (ok) {
      rawFd_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);
      groupFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sendFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      int one = 1;
      setsockopt(groupFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      setsockopt(sendFd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
      sockaddr_in g{};
      g.sin_family = AF_INET;
      g.sin_port = htons(kStreamPort);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(s_.address);
      ip_mreq mr{};
      mr.imr_multiaddr.s_addr = htonl(kGroup);
      mr.imr_interface.s_addr = htonl(s_.address);
      ok = rawFd_ >= 0 && groupFd_ >= 0 && sendFd_ >= 0 &&
           bind(groupFd_, reinterpret_cast<sockaddr*>(&g), sizeof g) == 0 &&
           setsockopt(groupFd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mr, sizeof mr) == 0 &&
           bind(sendFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && flash_.Listen(s_.address);
    }
    {
      std::lock_guard<std::mutex> l(m);
      ready = ok ? 1 : -1;
    }
    cv.notify_all();
    if (ok) RawLoop();
  });
  std::unique_lock<std::mutex> l(m);
  cv.wait(l, [&] { return ready != 0; });
  if (ready < 0) {
    l.unlock();
    Stop();
    return false;
  }
  return true;
}

void FakeLoader::Stop() {
  stop_ = true;
  if (raw_.joinable()) raw_.join();
  flash_.Stop();
  for (int* fd : {&rawFd_, &groupFd_, &sendFd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

std::vector<uint8_t> FakeLoader::program() {
  std::lock_guard<std::mutex> l(m_);
  std::vector<uint8_t> out;
  for (const auto& b : blocks_) out.insert(out.end(), b.begin(), b.end());
  return out;
}

void FakeLoader::Send(uint32_t to, uint16_t port, const std::vector<uint8_t>& d) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(to);
  a.sin_port = htons(port);
  sendto(sendFd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

void FakeLoader::RawLoop() {
  uint8_t buf[65536];
  uint32_t lastBoot = 0;
  int appliedAtRestart = 0;
  sockaddr_in self{};
  socklen_t sl = sizeof self;
  getsockname(sendFd_, reinterpret_cast<sockaddr*>(&self), &sl);
  const uint16_t myPort = ntohs(self.sin_port);
  while (!stop_) {
    pollfd p[3] = {{rawFd_, POLLIN, 0}, {groupFd_, POLLIN, 0}, {sendFd_, POLLIN, 0}};
    poll(p, 3, 50);
    if (p[1].revents & POLLIN) recv(groupFd_, buf, sizeof buf, 0);
    if (p[2].revents & POLLIN) recv(sendFd_, buf, sizeof buf, 0);
    {
      std::lock_guard<std::mutex> l(m_);
      // "APPL": back in the application.
      if (loaderAt_ && flash_.applied() > appliedAtRestart) loaderAt_ = 0;
      if (loaderAt_ && plat::TicksSince(loaderAt_) < 0x80000000u && s_.older && !programComplete_ &&
          offered_ == 0 && (lastBoot == 0 || plat::TicksSince(lastBoot) >= 1000)) {
        lastBoot = plat::TickCount();
        std::vector<uint8_t> boot(30, 0);
        std::memcpy(boot.data(), "WPBOOT", 6);
        std::memcpy(boot.data() + 24, s_.mac, 6);
        Send(0xFFFFFFFF, kBootPort, boot);
      }
      if (restartPending_ && plat::TicksSince(restartAt_) < 0x80000000u) {
        restartPending_ = false;
        loaderAt_ = plat::TickCount() | 1;
        appliedAtRestart = flash_.applied();
        blocks_.clear();
        have_.clear();
        programComplete_ = false;
        offered_ = 0;
        lastBoot = 0;
        ++restarts_;
      }
    }
    if (!(p[0].revents & POLLIN)) continue;
    ssize_t n = recv(rawFd_, buf, sizeof buf, 0);
    if (n < 28) continue;
    size_t ihl = (buf[0] & 15u) * 4;
    if (static_cast<size_t>(n) < ihl + 8) continue;
    const uint32_t src = Be32(buf + 12), dst = Be32(buf + 16);
    const uint8_t* u = buf + ihl;
    const uint16_t sport = static_cast<uint16_t>(u[0] << 8 | u[1]), dport = static_cast<uint16_t>(u[2] << 8 | u[3]);
    size_t ulen = static_cast<size_t>(u[4] << 8 | u[5]);
    if (ulen < 8 || ihl + ulen > static_cast<size_t>(n)) continue;
    std::lock_guard<std::mutex> l(m_);
    myPort_ = myPort;
    OnUdp(src, sport, dst, dport, u + 8, ulen - 8);
  }
}

void FakeLoader::OnUdp(uint32_t src, uint16_t sport, uint32_t dst, uint16_t dport, const uint8_t* p, size_t n) {
  const bool inLoader = loaderAt_ != 0;
  // The application: the reboot challenge.
  if (dst == s_.address && dport == kRebootPort && !inLoader && !restartPending_) {
    if (n == 6 && std::memcmp(p, "Reboot", 6) == 0) {
      ++rebootRequests_;
      if (s_.noChallenge) return;
      plat::NewUuid(token_);
      std::vector<uint8_t> c(33, 0);
      c[0] = 0x02;
      std::memcpy(c.data() + 1, "?Reboot", 7);
      std::string t = Base64(token_, 16);
      std::memcpy(c.data() + 8, t.data(), 24);
      challenged_ = true;
      Send(src, sport, c);
      return;
    }
    if (n == 30 && challenged_ && std::memcmp(p, "Reboot", 6) == 0) {
      uint8_t inv[16];
      for (int i = 0; i < 16; ++i) inv[i] = static_cast<uint8_t>(~token_[i]);
      if (std::memcmp(p + 6, Base64(inv, 16).data(), 24) != 0) return;
      challenged_ = false;
      restartPending_ = true;
      restartAt_ = plat::TickCount() + s_.restartMs;
    }
    return;
  }
  if (!inLoader) return;
  // A streaming boot loader: the RAM program meant for it.
  if (dst == kGroup && dport == kStreamPort && !s_.older && n >= 44) {
    ++streamDatagrams_;
    const size_t ids = Le16(p + 18);
    if (ids > 16 || n < 44 + 16 * ids) return;
    if (static_cast<int>(ids) > maxIds_) maxIds_ = static_cast<int>(ids);
    bool mine = false;
    for (size_t i = 0; i < ids; ++i) mine = mine || std::memcmp(p + 20 + 16 * i, s_.id, 16) == 0;
    if (!mine) return;
    const uint16_t block = Le16(p + 20 + 16 * ids);
    const size_t len = Le16(p + 22 + 16 * ids);
    if (len > 512 || n != 44 + 16 * ids + len) return;
    if (blocks_.size() <= block) {
      blocks_.resize(block + 1u);
      have_.resize(block + 1u, false);
    }
    blocks_[block].assign(p + 24 + 16 * ids, p + 24 + 16 * ids + len);
    have_[block] = true;
    bool all = have_.back() && blocks_.back().size() < 512;
    for (bool h : have_) all = all && h;
    programComplete_ = all;
    return;
  }
  // An older boot loader: the offer and the upload, to its own port.
  if (s_.older && dport == myPort_ && n >= 28) {
    if (n == 36 && std::memcmp(p, "WPOFFR", 6) == 0 && std::memcmp(p + 24, s_.mac, 6) == 0 && offered_ == 0) {
      offered_ = Le32(p + 32);
      std::memcpy(job_, p + 8, 16);
      std::vector<uint8_t> sel(24, 0);
      std::memcpy(sel.data(), "WPSLCT", 6);
      PutLe16(sel.data() + 6, 16);
      std::memcpy(sel.data() + 8, job_, 16);
      Send(src, sport, sel);
      return;
    }
    if (std::memcmp(p, "WPIMAG", 6) == 0 && offered_ != 0 && std::memcmp(p + 8, job_, 16) == 0) {
      const size_t len = Le16(p + 6) - 4u;
      const uint32_t block = Le32(p + 24);
      if (len > 512 || n != 28 + len || block > 4096) return;
      ++uploadBlocks_;
      if (blocks_.size() <= block) {
        blocks_.resize(block + 1u);
        have_.resize(block + 1u, false);
      }
      blocks_[block].assign(p + 28, p + 28 + len);
      have_[block] = true;
      if (len < 512) {
        bool all = true;
        for (bool h : have_) all = all && h;
        programComplete_ = all;
      }
      if (s_.dropAcks) return;
      std::vector<uint8_t> ack(28, 0);
      std::memcpy(ack.data(), "WPACKL", 6);
      PutLe16(ack.data() + 6, 20);
      std::memcpy(ack.data() + 8, job_, 16);
      PutLe32(ack.data() + 24, block);
      Send(src, sport, ack);
    }
    return;
  }
  // The recovery scan: answered for a watch of this device, once the program runs.
  if (dport == kRecoveryPort && n >= 24 && Le32(p + 16) == 0xD15C && programComplete_ && !s_.noAnnounce) {
    const size_t count = Le16(p + 20);
    if (n != 24 + 20 * count) return;
    bool watched = false;
    for (size_t i = 0; i < count; ++i) watched = watched || std::memcmp(p + 24 + 20 * i + 4, s_.id, 16) == 0;
    if (!watched) return;
    std::vector<uint8_t> a(48, 0);
    PutLe32(a.data() + 16, 0x9071);
    std::memcpy(a.data() + 24, s_.id, 16);
    std::memcpy(a.data() + 40, s_.mac, 6);
    PutLe16(a.data() + 46, flash_.port());
    ++announcements_;
    Send(src, sport, a);
  }
}

}  // namespace qs::test
