// The control commands (syntax in control.h) and the control port's clients.
#include "devsim/control.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include "devsim/sim.h"

namespace qs::devsim {

std::vector<std::pair<std::string, std::string>> Simulator::Describe(const Device& d) const {
  std::vector<std::pair<std::string, std::string>> o;
  for (const auto& t : tables_)
    for (const auto& s : t.settings)
      if (!s.shown || s.shown(d)) o.emplace_back(s.key, s.show(d));
  return o;
}

std::vector<std::string> Simulator::Help() const {
  std::string journals;
  for (const auto& j : journals_) journals += j->name() + " [KIND] | ";
  std::vector<std::string> out = {
      "reset | add KEY=VALUE... [count=N] | remove MAC | set MAC KEY=VALUE... | show MAC | list",
      journals + "counts | clearlog | reboot MAC [MS]",
      "flood count=N [size=S] [duration=MS] [to=IP:PORT] | flood off | keys | quit | shutdown"};
  for (const auto& t : tables_) {
    out.push_back(t.family + ":");
    for (const auto& s : t.settings)
      out.push_back("  " + s.key + (s.settable() ? "=" + s.values : " (shown)") + "  " + s.help);
  }
  return out;
}

bool Simulator::Control(const std::string& line, std::vector<std::string>* out, std::string* error) {
  std::vector<std::string> w;
  if (!SplitWords(line, &w, error)) return false;
  if (w.empty()) {
    *error = "empty command";
    return false;
  }
  const std::string& cmd = w[0];
  if (cmd == "help") {
    *out = Help();
    return true;
  }
  if (cmd == "keys") {
    for (const auto& t : tables_)
      for (const auto& s : t.settings) out->push_back(s.key);
    return true;
  }
  if (cmd == "reset") {
    for (auto& d : devices_) PlaceAddress(*d, false);
    devices_.clear();
    byId_.clear();
    for (auto& j : journals_) j->Clear();
    loop_.CancelTimers();
    flood_ = Flood();
    macCounter_ = 0;
    return true;
  }
  if (cmd == "clearlog") {
    for (auto& j : journals_) j->Clear();
    return true;
  }
  if (cmd == "add") {
    std::vector<std::string> macs;
    if (!AddDevices(w, 1, &macs, error)) return false;
    for (auto& m : macs) out->push_back("mac=" + m);
    return true;
  }
  if (cmd == "remove" || cmd == "show" || cmd == "set" || cmd == "reboot") {
    if (w.size() < 2) {
      *error = "usage: " + cmd + " MAC ...";
      return false;
    }
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
      for (auto& kv : Describe(*d)) out->push_back(kv.first + "=" + kv.second);
      return true;
    }
    if (cmd == "reboot") {
      uint32_t ms = d->rebootMs;
      if (w.size() >= 3 && !ParseCount(w[2], 600000, &ms)) {
        *error = "bad time " + w[2];
        return false;
      }
      Restart(*d, ms);
      return true;
    }
    // set: every setting is checked before the device changes
    std::vector<std::pair<std::string, Apply>> settings;
    if (!ParseSettings(w, 2, false, &settings, nullptr, error)) return false;
    for (const auto& kv : settings)
      if (kv.first == "mac") {
        *error = "the MAC names the device and cannot change";
        return false;
      }
    PlaceAddress(*d, false);
    for (const auto& kv : settings) kv.second(*d);
    for (auto& f : families_) f->OnSettings(*d, false);
    PlaceAddress(*d, true);
    return true;
  }
  if (cmd == "list") {
    static const char* kKeys[] = {"mac", "model", "hwid", "ip", "dhcp", "serial", "version", "segment", "state"};
    for (auto& d : devices_) {
      std::string s;
      auto all = Describe(*d);
      for (const char* key : kKeys)
        for (auto& kv : all)
          if (kv.first == key) s += (s.empty() ? "" : " ") + kv.first + "=" + Quote(kv.second);
      out->push_back(s);
    }
    return true;
  }
  for (const auto& j : journals_)
    if (cmd == j->name()) {
      *out = j->Lines(w.size() >= 2 ? w[1] : "");
      return true;
    }
  if (cmd == "counts") {
    std::string s = "devices=" + std::to_string(devices_.size());
    for (const auto& j : journals_) s += " " + j->name() + "=" + std::to_string(j->size());
    out->push_back(s);
    return true;
  }
  if (cmd == "flood") return ControlFlood(w, error);
  if (cmd == "shutdown") {
    shutdown_ = true;
    return true;
  }
  *error = "unknown command " + cmd;
  return false;
}

void Simulator::AcceptClients() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (clients_.size() >= kMaxControlClients) {
      close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    Client* raw = c.get();
    EventLoop::Id id = loop_.Watch(fd, false, [this, raw](uint32_t) { ServeClient(*raw); });
    if (!id) {
      close(fd);
      continue;
    }
    c->watch = id;
    clients_[id] = std::move(c);
  }
}

void Simulator::CloseClient(EventLoop::Id id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  loop_.Unwatch(id);
  close(it->second->fd);
  clients_.erase(it);
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
    CloseClient(c.watch);  // c is gone from here on
    return;
  }
  loop_.SetWritable(c.watch, !c.out.empty());
}

}  // namespace qs::devsim
