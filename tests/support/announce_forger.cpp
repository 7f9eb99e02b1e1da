// qs-announce-forger: a hostile host on a test network's device side. It
// watches for the library's discover request (a raw socket sees every UDP
// datagram that reaches the namespace) and answers it with COUNT announces
// that authenticate against the request's nonce, each with its own hardware
// identifier and an address where no device lives. Linux only; run it in the
// device namespace of testnet/run.sh (ip netns exec "$QS_NET_DEVNS" ...).
//
//   qs-announce-forger COUNT [FROM-ADDRESS] [WAIT-MS]
//
// FROM-ADDRESS: answer only a request from this address (default: the first
// request seen). Prints "forged=N to=A.B.C.D:PORT" and exits 0, or exits 1
// when no request came within WAIT-MS (default 20000).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "discovery/frame.h"
#include "platform/tick.h"

namespace {

constexpr size_t kAnnouncePayload = 114;

void Be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// The announce of forged device i: an identifier, MAC and serial of its own,
// an address in 10.x.4.0/22 of the requester's segment (no host there).
std::vector<uint8_t> Announce(uint32_t i, uint32_t requester) {
  std::vector<uint8_t> p(kAnnouncePayload, 0);
  p[0] = 0xF0;
  p[1] = 0x12;
  Be32(&p[12], i);
  uint32_t address = (requester & 0xFFFF0000u) | 0x0400u | (i % 1000 + 10);
  Be32(&p[16], address);
  const uint8_t mac[6] = {0x02, 0xF0, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i), 0x01};
  std::memcpy(&p[20], mac, 6);
  p[26] = 0;
  Be32(&p[27], address);
  Be32(&p[31], 0xFFFFF000u);
  Be32(&p[35], requester & 0xFFFFF000u);
  static const char* kModels[] = {"KV1R", "KV2R", "KV3R"};
  std::memcpy(&p[39], kModels[i % 3], 4);
  std::snprintf(reinterpret_cast<char*>(&p[47]), 24, "FORGED%06u", i);
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qs-announce-forger COUNT [FROM-ADDRESS] [WAIT-MS]\n");
    return 2;
  }
  const long count = std::strtol(argv[1], nullptr, 10);
  in_addr from{};
  const bool anyFrom = argc < 3 || std::strcmp(argv[2], "-") == 0;
  if (!anyFrom && inet_pton(AF_INET, argv[2], &from) != 1) return 2;
  const uint32_t waitMs = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 20000;
  if (count <= 0 || count > 1000000) return 2;

  int raw = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
  int tx = socket(AF_INET, SOCK_DGRAM, 0);
  if (raw < 0 || tx < 0) {
    std::perror("qs-announce-forger: socket");
    return 1;
  }
  const uint32_t start = qs::plat::TickCount();
  uint8_t buf[2048];
  for (;;) {
    uint32_t spent = qs::plat::TicksSince(start);
    if (spent >= waitMs) {
      std::fprintf(stderr, "qs-announce-forger: no discover request within %u ms\n", waitMs);
      return 1;
    }
    pollfd p{raw, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(waitMs - spent)) <= 0) continue;
    ssize_t n = recv(raw, buf, sizeof buf, 0);
    if (n < 20) continue;
    size_t ihl = static_cast<size_t>(buf[0] & 15) * 4;
    if (static_cast<size_t>(n) < ihl + 8 + qs::disc::kRequestOverhead) continue;
    const uint8_t* udp = buf + ihl;
    const uint8_t* payload = udp + 8;
    size_t len = static_cast<size_t>(n) - ihl - 8;
    uint16_t dport = static_cast<uint16_t>(udp[2] << 8 | udp[3]);
    if (dport != qs::disc::kCommandPort || len != qs::disc::kRequestOverhead) continue;
    if (payload[16] != 0x01 || payload[17] != 0xC1 || payload[18] != 0 || payload[19] != 0) continue;
    uint32_t src;
    std::memcpy(&src, buf + 12, 4);
    if (!anyFrom && src != from.s_addr) continue;
    uint16_t sport = static_cast<uint16_t>(udp[0] << 8 | udp[1]);
    uint8_t nonce[qs::disc::kNonceSize];
    std::memcpy(nonce, payload, sizeof nonce);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = src;
    to.sin_port = htons(sport);
    long sent = 0;
    for (long i = 0; i < count; ++i) {
      std::vector<uint8_t> a = Announce(static_cast<uint32_t>(i), ntohl(src));
      std::vector<uint8_t> reply = qs::disc::BuildReply(nonce, qs::disc::kReplyAnnounce, a.data(), a.size());
      if (sendto(tx, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
          static_cast<ssize_t>(reply.size()))
        ++sent;
      if (i % 200 == 199) usleep(2000);  // paced: what the receiver drops is not the test
    }
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &src, text, sizeof text);
    std::printf("forged=%ld to=%s:%u\n", sent, text, static_cast<unsigned>(sport));
    return 0;
  }
}
