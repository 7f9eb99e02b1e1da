// What the update tests share: the PC side of every message of a firmware
// update written out byte by byte from the layouts (not through the code the
// simulator and the library use, so that both cannot be wrong the same way),
// plain sockets in the test network's PC namespace, and a fixture that brings
// simulated devices to the state a test needs.
#pragma once
#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/sha1.h"
#include "platform/tick.h"
#include "platform/uuid.h"
#include "tests/support/sim_client.h"

namespace qs::updtest {

using Bytes = std::vector<uint8_t>;
using Id = std::array<uint8_t, 16>;

// ---- bytes ----

inline void Le16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Le32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline uint32_t GetLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline void Put(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
inline void Put(Bytes& b, const uint8_t* p, size_t n) { b.insert(b.end(), p, p + n); }

inline std::string Hex(const uint8_t* p, size_t n) {
  static const char k[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {k[p[i] >> 4], k[p[i] & 15]};
  return s;
}
inline std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }
inline Bytes Unhex(const std::string& h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return b;
}
inline std::string Sha1Hex(const Bytes& b) {
  uint8_t d[20];
  plat::Sha1Digest(b.data(), b.size(), d);
  return Hex(d, 20);
}
inline Bytes Sha1(const Bytes& b) {
  Bytes d(20);
  plat::Sha1Digest(b.data(), b.size(), d.data());
  return d;
}
inline Bytes Pattern(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}
inline Id NewId() {
  Id id;
  plat::NewUuid(id.data());
  return id;
}
inline Id IdOf(const std::string& hex) {
  Id id{};
  Bytes b = Unhex(hex);
  if (b.size() == 16) std::memcpy(id.data(), b.data(), 16);
  return id;
}
inline std::array<uint8_t, 6> MacOf(const std::string& text) {  // "02-51-53-00-00-01"
  std::array<uint8_t, 6> m{};
  for (size_t i = 0; i < 6 && 3 * i + 1 < text.size(); ++i)
    m[i] = static_cast<uint8_t>(std::stoi(text.substr(3 * i, 2), nullptr, 16));
  return m;
}

// Base64, standard alphabet with padding.
inline std::string B64(const uint8_t* d, size_t n) {
  static const char k[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string o;
  for (size_t i = 0; i < n; i += 3) {
    size_t left = n - i;
    uint32_t v = uint32_t(d[i]) << 16 | (left > 1 ? uint32_t(d[i + 1]) << 8 : 0) | (left > 2 ? d[i + 2] : 0);
    o += k[(v >> 18) & 63];
    o += k[(v >> 12) & 63];
    o += left > 1 ? k[(v >> 6) & 63] : '=';
    o += left > 2 ? k[v & 63] : '=';
  }
  return o;
}
inline bool UnB64(const std::string& t, Bytes* out) {
  static const std::string k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out->clear();
  if (t.empty() || t.size() % 4) return false;
  uint32_t v = 0;
  int bits = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '=') {
      if (i < t.size() - 2) return false;
      continue;
    }
    size_t at = k.find(t[i]);
    if (at == std::string::npos) return false;
    v = (v << 6) | uint32_t(at);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<uint8_t>(v >> bits));
    }
  }
  return true;
}

// ---- the messages of an update, PC side ----

// Multicast RAM-program datagram: id | 1 | n | ids | block | L | bytes | 20 zeros.
inline Bytes StreamDatagram(const std::vector<Id>& devices, uint16_t block, const uint8_t* p, size_t len) {
  Bytes b;
  Id id = NewId();
  Put(b, id.data(), 16);
  Le16(b, 1);
  Le16(b, static_cast<uint32_t>(devices.size()));
  for (const auto& d : devices) Put(b, d.data(), 16);
  Le16(b, block);
  Le16(b, static_cast<uint32_t>(len));
  Put(b, p, len);
  b.resize(b.size() + 20, 0);
  return b;
}
// Block b of a program, 512 bytes or what is left.
inline Bytes StreamBlock(const std::vector<Id>& devices, const Bytes& program, uint16_t block) {
  size_t at = size_t{block} * 512, len = std::min<size_t>(512, program.size() - at);
  return StreamDatagram(devices, block, program.data() + at, len);
}

// Recovery scan request: id | 0xD15C | n | 0 | (key, identifier) * n.
inline Bytes RecoveryRequest(const std::vector<Id>& watched) {
  Bytes b;
  Id id = NewId();
  Put(b, id.data(), 16);
  Le32(b, 0xD15C);
  Le16(b, static_cast<uint32_t>(watched.size()));
  Le16(b, 0);
  uint32_t key = 100;
  for (const auto& w : watched) {
    Le32(b, key++);
    Put(b, w.data(), 16);
  }
  return b;
}

inline Bytes Offer(const Id& job, const std::array<uint8_t, 6>& mac, uint32_t address) {
  Bytes b;
  Put(b, "WPOFFR");
  Le16(b, 12);
  Put(b, job.data(), 16);
  Put(b, mac.data(), 6);
  Le16(b, 0);
  Le32(b, address);  // first octet in the most significant byte
  return b;
}

inline Bytes ImageBlock(const Id& job, uint32_t block, const uint8_t* p, size_t len) {
  Bytes b;
  Put(b, "WPIMAG");
  Le16(b, static_cast<uint32_t>(len + 4));
  Put(b, job.data(), 16);
  Le32(b, block);
  Put(b, p, len);
  return b;
}

// Programming stream: length | tag | payload.
inline Bytes Message(const char* tag, const Bytes& payload, uint32_t length = 0xFFFFFFFFu) {
  Bytes b;
  Le32(b, length == 0xFFFFFFFFu ? static_cast<uint32_t>(payload.size()) : length);
  b.insert(b.end(), tag, tag + 4);
  Put(b, payload.data(), payload.size());
  return b;
}
inline Bytes RangeRequest(const char* tag, uint32_t address, uint32_t size) {
  Bytes p;
  Le32(p, address);
  Le32(p, size);
  return Message(tag, p);
}
inline Bytes WriteRequest(const char* tag, uint32_t address, const Bytes& data) {
  Bytes p;
  Le32(p, address);
  Put(p, data.data(), data.size());
  return Message(tag, p);
}

// ---- sockets of the PC namespace ----

struct Got {
  Bytes data;
  uint32_t from = 0;
  uint16_t port = 0;
  uint32_t at = 0;  // ms after the wait began
};

class Udp {
 public:
  // Bound to local:port (0: any port); broadcasts allowed.
  explicit Udp(uint32_t local, uint16_t port = 0) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    in_addr ifa{htonl(local)};
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &ifa, sizeof ifa);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    // a socket bound to a fixed port takes the segment's broadcasts too
    a.sin_addr.s_addr = htonl(port ? INADDR_ANY : local);
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Udp() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  bool Send(const Bytes& b, uint32_t to, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(to);
    return sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) == static_cast<ssize_t>(b.size());
  }
  bool Send(const std::string& s, uint32_t to, uint16_t port) { return Send(Bytes(s.begin(), s.end()), to, port); }
  // Datagrams until quietMs pass with nothing (at most maxMs), leaving out
  // those sent from ignore (a broadcast of our own coming back).
  std::vector<Got> Collect(uint32_t quietMs = 300, uint32_t maxMs = 3000, uint32_t ignore = 0) {
    return Receive(quietMs, maxMs, ignore, false);
  }
  // The first datagram within maxMs (data empty when none).
  Got One(uint32_t maxMs = 2000, uint32_t ignore = 0) {
    auto got = Receive(maxMs, maxMs, ignore, true);
    return got.empty() ? Got() : got.front();
  }

 private:
  std::vector<Got> Receive(uint32_t quietMs, uint32_t maxMs, uint32_t ignore, bool first) {
    std::vector<Got> out;
    uint32_t start = plat::TickCount(), last = start;
    while (plat::TicksSince(start) < maxMs && plat::TicksSince(last) < quietMs) {
      uint32_t wait = std::min(quietMs - plat::TicksSince(last), maxMs - plat::TicksSince(start));
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(wait)) <= 0) break;
      uint8_t buf[2048];
      sockaddr_in from{};
      socklen_t fl = sizeof from;
      ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
      if (n < 0) break;
      if (ignore && ntohl(from.sin_addr.s_addr) == ignore) continue;
      last = plat::TickCount();
      out.push_back({Bytes(buf, buf + n), ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), plat::TicksSince(start)});
      if (first) break;
    }
    return out;
  }

  int fd_ = -1;
  bool ok_ = false;
};

struct Reply {
  std::string tag;  // "" when nothing whole came
  uint32_t length = 0;
  Bytes payload;
};

class Tcp {
 public:
  ~Tcp() { Close(); }
  // 0 on success, else the errno of the connect.
  int Connect(uint32_t address, uint16_t port, uint32_t timeoutMs = 2000) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(timeoutMs)) <= 0) return ETIMEDOUT;
    int err = 0;
    socklen_t el = sizeof err;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &el);
    return err;
  }
  bool Send(const Bytes& b) {
    size_t at = 0;
    uint32_t start = plat::TickCount();
    while (at < b.size() && plat::TicksSince(start) < 5000) {
      ssize_t r = send(fd_, b.data() + at, b.size() - at, MSG_NOSIGNAL);
      if (r > 0) {
        at += static_cast<size_t>(r);
      } else if (r < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 50);
      } else {
        return false;
      }
    }
    return at == b.size();
  }
  // Exactly n bytes within the time; false when the peer closed, reset or
  // was silent (closed() and reset() tell which).
  bool Read(size_t n, Bytes* out, uint32_t timeoutMs = 2000) {
    out->clear();
    uint32_t start = plat::TickCount();
    while (out->size() < n) {
      uint32_t spent = plat::TicksSince(start);
      if (spent >= timeoutMs) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(timeoutMs - spent)) <= 0) return false;
      uint8_t buf[65536];
      ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - out->size()), 0);
      if (r == 0) {
        closed_ = true;
        return false;
      }
      if (r < 0) {
        if (errno == EAGAIN) continue;
        reset_ = errno == ECONNRESET;
        closed_ = true;
        return false;
      }
      out->insert(out->end(), buf, buf + r);
    }
    return true;
  }
  // One whole message (payload bounded by 64 KiB).
  Reply Next(uint32_t timeoutMs = 2000) {
    Reply r;
    Bytes head;
    if (!Read(8, &head, timeoutMs)) return r;
    r.length = GetLe32(head.data());
    std::string tag(head.begin() + 4, head.end());
    if (r.length > 65536 || !Read(r.length, &r.payload, timeoutMs)) return r;
    r.tag = tag;
    return r;
  }
  // Nothing more arrives and the peer has closed (or reset) within the time.
  bool ClosedByPeer(uint32_t timeoutMs = 2000) {
    Bytes b;
    return !Read(1, &b, timeoutMs) && closed_;
  }
  bool reset() const { return reset_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    closed_ = reset_ = false;
  }

 private:
  int fd_ = -1;
  bool closed_ = false, reset_ = false;
};

// ---- the fixture ----

class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::TestNet::Available()) << "run inside testnet/run.sh";
    ASSERT_TRUE(sim.Connect());
    ASSERT_TRUE(sim.Reset());
    ASSERT_TRUE(pc.ok());
  }

  std::string Add(const std::string& settings) {
    std::string why;
    std::string mac = sim.AddDevice(settings, &why);
    EXPECT_FALSE(mac.empty()) << settings << ": " << why;
    return mac;
  }
  std::map<std::string, std::string> Show(const std::string& mac) { return sim.Show(mac); }
  std::string Get(const std::string& mac, const std::string& key) { return Show(mac)[key]; }
  uint32_t Ip(const std::string& mac) { return test::ParseAddress(Get(mac, "ip")); }
  Id Hwid(const std::string& mac) { return IdOf(Get(mac, "hwid")); }
  // Polls show until key has the value (or the time is up); the last value seen.
  std::string WaitFor(const std::string& mac, const std::string& key, const std::string& value,
                      uint32_t timeoutMs = 2000) {
    uint32_t start = plat::TickCount();
    std::string v;
    do {
      v = Get(mac, key);
      if (v == value) return v;
      plat::SleepMs(10);
    } while (plat::TicksSince(start) < timeoutMs);
    return v;
  }
  std::vector<std::string> Journal(const std::string& kind) {
    std::vector<std::string> lines;
    EXPECT_TRUE(sim.Command("fw " + kind, &lines));
    return lines;
  }

  // Feeds every block of program to the stream loaders of segment A, naming
  // nobody, and waits until mac runs it.
  void Stream(const Bytes& program, const std::string& mac) {
    Udp m(test::TestNet::PcA());
    for (uint16_t b = 0; size_t{b} * 512 < program.size(); ++b) ASSERT_TRUE(m.Send(StreamBlock({}, program, b), kGroup, kStreamPort));
    ASSERT_EQ(WaitFor(mac, "loader_phase", "programmer"), "programmer");
  }
  // A unit stuck in its stream-fed loader, brought to its programming stream.
  std::string Programmer(const std::string& settings) {
    std::string mac = Add("model=KV1R stuck=1 loader=stream " + settings);
    Stream(Pattern(700, 1), mac);
    return mac;
  }
  // Connected to the programming stream of mac.
  void Open(Tcp& t, const std::string& mac) { ASSERT_EQ(t.Connect(Ip(mac), kProgrammingPort), 0); }
  Bytes ReadMemory(Tcp& t, uint32_t address, uint32_t size) {
    EXPECT_TRUE(t.Send(RangeRequest("READ", address, size)));
    Reply r = t.Next();
    EXPECT_EQ(r.tag, "RDAT");
    EXPECT_EQ(r.length, size + 4);
    return r.payload.size() == size + 4 ? Bytes(r.payload.begin() + 4, r.payload.end()) : Bytes();
  }
  Bytes Digest(Tcp& t, uint32_t address, uint32_t size) {
    EXPECT_TRUE(t.Send(RangeRequest("DGST", address, size)));
    Reply r = t.Next();
    EXPECT_EQ(r.tag, "DGST");
    return r.payload;
  }
  // A write answered with progress and "WFIN": the positions reported.
  std::vector<uint32_t> Write(Tcp& t, const char* tag, uint32_t address, const Bytes& data) {
    std::vector<uint32_t> positions;
    EXPECT_TRUE(t.Send(WriteRequest(tag, address, data)));
    for (;;) {
      Reply r = t.Next();
      if (r.tag == "PRGS" && r.payload.size() == 4) {
        positions.push_back(GetLe32(r.payload.data()));
        continue;
      }
      EXPECT_EQ(r.tag, "WFIN");
      return positions;
    }
  }

  static constexpr uint32_t kGroup = 0xEF000040u;  // 239.0.0.64
  static constexpr uint16_t kStreamPort = 60892;
  static constexpr uint16_t kBootPort = 60889;
  static constexpr uint16_t kLoaderPort = 60890;
  static constexpr uint16_t kRecoveryPort = 60894;
  static constexpr uint16_t kProgrammingPort = 60893;
  static constexpr uint32_t kLimited = 0xFFFFFFFFu;

  test::SimClient sim;
  Udp pc{test::TestNet::PcA()};
};

}  // namespace qs::updtest
