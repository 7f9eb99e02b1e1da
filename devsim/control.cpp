// The control commands (syntax in control.h) and the control port's clients.
#include "devsim/control.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "devsim/sim.h"

namespace qs::devsim {

namespace {

bool SetNonBlocking(int fd) {
  int fl = fcntl(fd, F_GETFL, 0);
  return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

bool OfKind(const std::string& line, const std::string& kind) {
  return kind.empty() || line.find(" kind=" + kind + " ") != std::string::npos ||
         (line.size() >= kind.size() + 6 && line.compare(line.size() - kind.size() - 6, std::string::npos,
                                                         " kind=" + kind) == 0);
}

}  // namespace

bool Simulator::Control(const std::string& line, std::vector<std::string>* out, std::string* error) {
  std::vector<std::string> w;
  if (!SplitWords(line, &w, error)) return false;
  if (w.empty()) {
    *error = "empty command";
    return false;
  }
  const std::string& cmd = w[0];
  auto usage = [&](const char* text) {
    *error = std::string("usage: ") + text;
    return false;
  };
  if (cmd == "help") {
    out->push_back("reset | add KEY=VALUE... [count=N] | remove MAC | set MAC KEY=VALUE... | show MAC | list");
    out->push_back("log [KIND] | sent [KIND] | winks | counts | clearlog | reboot MAC [MS]");
    out->push_back("flood count=N [size=S] [duration=MS] [to=IP:PORT] | flood off | keys | quit | shutdown");
    return true;
  }
  if (cmd == "reset") {
    for (auto& d : devices_) PlaceAddress(*d, false);
    devices_.clear();
    log_.clear();
    sent_.clear();
    winks_.clear();
    timers_.clear();
    flood_ = Flood();
    macCounter_ = 0;
    ++generation_;
    return true;
  }
  if (cmd == "clearlog") {
    log_.clear();
    sent_.clear();
    winks_.clear();
    return true;
  }
  if (cmd == "add") {
    std::vector<std::string> macs;
    if (!AddDevices(w, 1, &macs, error)) return false;
    for (auto& m : macs) out->push_back("mac=" + m);
    return true;
  }
  if (cmd == "remove" || cmd == "show" || cmd == "set" || cmd == "reboot") {
    if (w.size() < 2) return usage((cmd + " MAC ...").c_str());
    Device* d = Find(w[1]);
    if (!d) {
      *error = "no device " + w[1];
      return false;
    }
    if (cmd == "remove") {
      RemoveDevice(d);
      return true;
    }
    if (cmd == "show") {
      for (auto& kv : DescribeDevice(*d)) out->push_back(kv.first + "=" + kv.second);
      return true;
    }
    if (cmd == "reboot") {
      uint32_t ms = d->rebootMs;
      if (w.size() >= 3 && !ParseCount(w[2], 600000, &ms)) {
        *error = "bad time " + w[2];
        return false;
      }
      BeginReboot(*d, ms);
      return true;
    }
    // set: every setting is checked on a copy before the device changes
    Device copy = *d;
    for (size_t i = 2; i < w.size(); ++i) {
      std::string k, v;
      if (!SplitKeyValue(w[i], &k, &v)) {
        *error = "expected key=value: " + w[i];
        return false;
      }
      if (k == "mac") {
        *error = "the MAC names the device and cannot change";
        return false;
      }
      if (!ApplySetting(copy, k, v, error)) return false;
    }
    PlaceAddress(*d, false);
    *d = copy;
    PlaceAddress(*d, true);
    return true;
  }
  if (cmd == "list") {
    static const char* kKeys[] = {"mac", "model", "hwid", "ip", "dhcp", "serial", "version", "segment", "state"};
    for (auto& d : devices_) {
      std::string s;
      auto all = DescribeDevice(*d);
      for (const char* key : kKeys)
        for (auto& kv : all)
          if (kv.first == key) s += (s.empty() ? "" : " ") + kv.first + "=" + Quote(kv.second);
      out->push_back(s);
    }
    return true;
  }
  if (cmd == "log" || cmd == "sent" || cmd == "winks") {
    const auto& q = cmd == "log" ? log_ : cmd == "sent" ? sent_ : winks_;
    std::string kind = w.size() >= 2 ? w[1] : "";
    for (const auto& l : q)
      if (OfKind(l, kind)) out->push_back(l);
    return true;
  }
  if (cmd == "counts") {
    out->push_back("devices=" + std::to_string(devices_.size()) + " log=" + std::to_string(log_.size()) +
                   " sent=" + std::to_string(sent_.size()) + " winks=" + std::to_string(winks_.size()));
    return true;
  }
  if (cmd == "flood") return ControlFlood(w, error);
  if (cmd == "keys") {
    Device d;
    d.pending = true;
    for (auto& kv : DescribeDevice(d)) out->push_back(kv.first);
    return true;
  }
  if (cmd == "shutdown") {
    shutdown_ = true;
    return true;
  }
  *error = "unknown command " + cmd;
  return false;
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
      if (colon == std::string::npos || !ParseIp(v.substr(0, colon), &toIp) ||
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
    if (f.durationMs) StartFlood(ports_.front().fd, toIp, static_cast<uint16_t>(toPort), f);
    else SendJunk(ports_.front().fd, toIp, static_cast<uint16_t>(toPort), f.count, f.size);
  } else {
    f.armed = true;
    flood_ = f;
  }
  return true;
}

void Simulator::AcceptClients() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (clients_.size() >= kMaxControlClients || !SetNonBlocking(fd)) {
      close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    clients_.push_back(std::move(c));
  }
}

void Simulator::ServeClient(Client& c) {
  char buf[4096];
  for (;;) {
    ssize_t r = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (r > 0) {
      c.in.append(buf, static_cast<size_t>(r));
      if (c.in.size() > 4 * kMaxControlLine) break;
      continue;
    }
    if (r == 0) c.closing = true;
    break;
  }
  size_t nl;
  while ((nl = c.in.find('\n')) != std::string::npos) {
    std::string line = c.in.substr(0, nl);
    c.in.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxControlLine) {
      c.out += "ERR line too long\n";
      continue;
    }
    if (line == "quit") {
      c.out += "OK\n";
      c.closing = true;
      c.in.clear();
      break;
    }
    std::vector<std::string> out;
    std::string error;
    if (Control(line, &out, &error)) {
      for (auto& l : out) c.out += l + "\n";
      c.out += "OK\n";
    } else {
      c.out += "ERR " + error + "\n";
    }
  }
  if (c.in.size() > kMaxControlLine) {
    c.out += "ERR line too long\n";
    c.in.clear();
    c.closing = true;
  }
  while (!c.out.empty()) {
    ssize_t r = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      c.out.clear();  // the peer is gone
      c.closing = true;
    }
    if (r <= 0) break;
    c.out.erase(0, static_cast<size_t>(r));
  }
  if (c.closing && c.out.empty()) {
    close(c.fd);
    c.fd = -1;
  }
}

}  // namespace qs::devsim
