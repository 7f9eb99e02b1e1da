#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/netif.h"

namespace qs::plat {

IfQuery QueryInterfaces(size_t room, std::vector<RawInterface>& out) {
  out.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return IfQuery::Failed;
  std::vector<RawInterface> all;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    RawInterface r;
    if (i->ifa_flags & IFF_UP) r.flags |= kIfUp;
    if (i->ifa_flags & IFF_LOOPBACK) r.flags |= kIfLoopback;
    if (i->ifa_flags & IFF_BROADCAST) r.flags |= kIfBroadcast;
    r.address = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    if (i->ifa_netmask) r.netmask = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
    if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr)
      r.broadcast = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr);
    all.push_back(r);
  }
  freeifaddrs(list);
  if (all.size() > room) return IfQuery::TooSmall;
  out = std::move(all);
  return IfQuery::Ok;
}

// An address that the kernel marks as not permanent was leased (DHCP or
// another configuration daemon); a permanent one was set by hand.
uint8_t DhcpFlagForAddress(uint32_t address) {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return 0;
  struct {
    nlmsghdr nh;
    ifaddrmsg ifa;
  } req{};
  req.nh.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  req.nh.nlmsg_type = RTM_GETADDR;
  req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  req.ifa.ifa_family = AF_INET;
  uint8_t result = 0;
  if (send(fd, &req, req.nh.nlmsg_len, 0) < 0) {
    close(fd);
    return 0;
  }
  alignas(nlmsghdr) char buf[16384];
  bool done = false;
  while (!done) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    for (auto* nh = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(nh, static_cast<unsigned>(n)); nh = NLMSG_NEXT(nh, n)) {
      if (nh->nlmsg_type == NLMSG_DONE || nh->nlmsg_type == NLMSG_ERROR) {
        done = true;
        break;
      }
      if (nh->nlmsg_type != RTM_NEWADDR) continue;
      auto* ifa = static_cast<ifaddrmsg*>(NLMSG_DATA(nh));
      uint32_t flags = ifa->ifa_flags;
      uint32_t addr = 0;
      bool have = false;
      int len = static_cast<int>(IFA_PAYLOAD(nh));
      for (auto* rta = IFA_RTA(ifa); RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        if (rta->rta_type == IFA_LOCAL && RTA_PAYLOAD(rta) == 4) {
          std::memcpy(&addr, RTA_DATA(rta), 4);
          have = true;
        } else if (rta->rta_type == IFA_ADDRESS && RTA_PAYLOAD(rta) == 4 && !have) {
          std::memcpy(&addr, RTA_DATA(rta), 4);
          have = true;
        } else if (rta->rta_type == IFA_FLAGS && RTA_PAYLOAD(rta) == 4) {
          std::memcpy(&flags, RTA_DATA(rta), 4);
        }
      }
      if (have && ntohl(addr) == address) result = (flags & IFA_F_PERMANENT) ? 0 : 1;
    }
  }
  close(fd);
  return result;
}

}  // namespace qs::plat
