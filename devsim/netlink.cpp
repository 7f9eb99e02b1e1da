#include "devsim/netlink.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace qs::devsim {

AddressTable::~AddressTable() {
  if (fd_ >= 0) close(fd_);
}

bool AddressTable::Open(std::string* error) {
  fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd_ < 0) {
    *error = std::string("netlink: ") + strerror(errno);
    return false;
  }
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    *error = std::string("netlink bind: ") + strerror(errno);
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool AddressTable::Add(int ifindex, uint32_t address, std::string* error) {
  return Change(true, ifindex, address, error);
}

bool AddressTable::Remove(int ifindex, uint32_t address, std::string* error) {
  return Change(false, ifindex, address, error);
}

bool AddressTable::Change(bool add, int ifindex, uint32_t address, std::string* error) {
  if (fd_ < 0) {
    *error = "netlink not open";
    return false;
  }
  struct {
    nlmsghdr h;
    ifaddrmsg a;
    char attrs[64];
  } req{};
  req.h.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  req.h.nlmsg_type = add ? RTM_NEWADDR : RTM_DELADDR;
  req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (add ? NLM_F_CREATE | NLM_F_EXCL : 0);
  req.h.nlmsg_seq = ++seq_;
  req.a.ifa_family = AF_INET;
  req.a.ifa_prefixlen = 32;
  req.a.ifa_scope = RT_SCOPE_UNIVERSE;
  req.a.ifa_index = static_cast<unsigned>(ifindex);
  uint32_t be = htonl(address);
  for (unsigned short type : {static_cast<unsigned short>(IFA_LOCAL), static_cast<unsigned short>(IFA_ADDRESS)}) {
    rtattr* rta = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) + NLMSG_ALIGN(req.h.nlmsg_len));
    rta->rta_type = type;
    rta->rta_len = RTA_LENGTH(sizeof be);
    std::memcpy(RTA_DATA(rta), &be, sizeof be);
    req.h.nlmsg_len = NLMSG_ALIGN(req.h.nlmsg_len) + RTA_ALIGN(rta->rta_len);
  }
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(fd_, &req, req.h.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    *error = std::string("netlink send: ") + strerror(errno);
    return false;
  }
  // the acknowledgement of this very request; bounded so that a lost answer
  // cannot stall the simulator
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) {
      *error = "netlink: no answer";
      return false;
    }
    alignas(nlmsghdr) char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = std::string("netlink recv: ") + strerror(errno);
      return false;
    }
    int len = static_cast<int>(n);
    for (nlmsghdr* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, len); h = NLMSG_NEXT(h, len)) {
      if (h->nlmsg_seq != req.h.nlmsg_seq || h->nlmsg_type != NLMSG_ERROR) continue;
      const nlmsgerr* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
      int code = -e->error;
      if (code == 0 || (add && code == EEXIST) || (!add && code == EADDRNOTAVAIL)) return true;
      *error = std::string(add ? "adding" : "removing") + " an address: " + strerror(code);
      return false;
    }
  }
}

}  // namespace qs::devsim
