// The device table: adding and removing devices, their addresses on the
// bridges, the addresses the simulator hands out to DHCP devices, restarts.
#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "devsim/sim.h"
#include "platform/uuid.h"
#include "runtime/bytes.h"

namespace qs::devsim {

namespace {
constexpr uint32_t kBaseA = 0x0A470000u;  // 10.71.0.0/20
constexpr uint32_t kBaseB = 0x0A480000u;  // 10.72.0.0/20
constexpr uint32_t kMaxDevices = 5000;
constexpr uint32_t kMaxBatch = 2000;

// DHCP addresses come from x.x.8.1 upwards in the device's segment; the low
// half of the segment is left to static addresses of the tests.
uint32_t NextFree(Segment seg, const std::set<uint32_t>& used) {
  uint32_t base = (seg == Segment::B ? kBaseB : kBaseA) | 0x0800u;
  for (uint32_t host = 1; host < 0x7FE; ++host) {
    uint32_t ip = base + host;
    if ((ip & 0xFF) == 0 || (ip & 0xFF) == 0xFF || used.count(ip)) continue;
    return ip;
  }
  return 0;
}

}  // namespace

Device* Simulator::Find(const std::string& mac) {
  uint8_t m[6];
  size_t pos = 0;
  if (mac.size() != 17 || !bytes::ParseMacAt(mac, pos, "-:", m)) return nullptr;
  for (auto& d : devices_)
    if (std::memcmp(d->mac.data(), m, 6) == 0) return d.get();
  return nullptr;
}

Device* Simulator::FindId(uint64_t id) {
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : it->second;
}

std::unique_ptr<Device> Simulator::NewDevice() {
  auto d = std::make_unique<Device>();
  d->id = nextId_++;
  for (auto& f : families_) d->families.push_back(f->NewState());
  return d;
}

uint32_t Simulator::Lease(Segment seg) {
  std::set<uint32_t> used;
  for (auto& d : devices_) used.insert(d->ip);
  return NextFree(seg, used);
}

void Simulator::ChangeAddress(int ifindex, uint32_t ip, bool add) {
  auto key = std::make_pair(ifindex, ip);
  auto it = placed_.find(key);
  if (add) {
    if (it != placed_.end()) {
      ++it->second;
      return;
    }
    placed_[key] = 1;
  } else {
    if (it == placed_.end()) return;
    if (--it->second > 0) return;
    placed_.erase(it);
  }
  std::string why;
  bool ok = add ? addresses_.Add(ifindex, ip, &why) : addresses_.Remove(ifindex, ip, &why);
  if (!ok)
    std::fprintf(stderr, "devsim: %s %s: %s\n", add ? "add" : "remove", bytes::FormatIpv4(ip).c_str(), why.c_str());
}

void Simulator::PlaceAddress(const Device& d, bool add) {
  if (!opt_.manageAddresses || d.ip == 0 || preexisting_.count(d.ip)) return;
  if (add && !d.Powered()) return;
  if (ifA_ == 0) ifA_ = static_cast<int>(if_nametoindex(opt_.bridgeA.c_str()));
  if (ifB_ == 0) ifB_ = static_cast<int>(if_nametoindex(opt_.bridgeB.c_str()));
  if (d.segment != Segment::B && ifA_) ChangeAddress(ifA_, d.ip, add);
  if (d.segment != Segment::A && ifB_) ChangeAddress(ifB_, d.ip, add);
}

void Simulator::RemoveDevice(Device* d) {
  PlaceAddress(*d, false);
  byId_.erase(d->id);
  devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                [d](const std::unique_ptr<Device>& x) { return x.get() == d; }),
                 devices_.end());
}

// key=value words from words[from]: each checked against the tables before any
// device changes. count=N is taken out when adding.
bool Simulator::ParseSettings(const std::vector<std::string>& words, size_t from, bool adding,
                              std::vector<std::pair<std::string, Apply>>* out, uint32_t* count, std::string* error) {
  for (size_t i = from; i < words.size(); ++i) {
    std::string k, v;
    if (!SplitKeyValue(words[i], &k, &v)) {
      *error = "expected key=value: " + words[i];
      return false;
    }
    if (adding && k == "count") {
      if (!ParseCount(v, kMaxBatch, count) || *count == 0) {
        *error = "count is 1 to " + std::to_string(kMaxBatch);
        return false;
      }
      continue;
    }
    auto it = keys_.find(k);
    if (it == keys_.end()) {
      *error = "unknown key " + k;
      return false;
    }
    if (!it->second->settable()) {
      *error = k + " is a state value: shown, not set";
      return false;
    }
    Apply apply;
    if (!it->second->parse(v, &apply, error)) return false;
    out->emplace_back(k, std::move(apply));
  }
  return true;
}

// words[from..]: key=value settings, and count=N for N devices alike but for
// MAC, identifier, serial and (when given) consecutive addresses.
bool Simulator::AddDevices(const std::vector<std::string>& words, size_t from, std::vector<std::string>* macs,
                           std::string* error) {
  uint32_t count = 1;
  std::vector<std::pair<std::string, Apply>> settings;
  if (!ParseSettings(words, from, true, &settings, &count, error)) return false;
  std::set<std::string> given;
  for (const auto& kv : settings) given.insert(kv.first);
  if (count > 1)
    for (const char* one : {"mac", "hwid", "serial"})
      if (given.count(one)) {
        *error = std::string(one) + " names one device: not with count";
        return false;
      }
  if (devices_.size() + count > kMaxDevices) {
    *error = "at most " + std::to_string(kMaxDevices) + " devices";
    return false;
  }
  std::vector<std::unique_ptr<Device>> made;
  std::set<uint32_t> used;
  for (auto& d : devices_) used.insert(d->ip);
  for (uint32_t n = 0; n < count; ++n) {
    auto d = NewDevice();
    ++macCounter_;
    d->mac = {0x02, 0x51, 0x53, static_cast<uint8_t>(macCounter_ >> 16), static_cast<uint8_t>(macCounter_ >> 8),
              static_cast<uint8_t>(macCounter_)};
    plat::NewUuid(d->hwid.data());
    char serial[16];
    std::snprintf(serial, sizeof serial, "QS%06u", macCounter_);
    d->serial = serial;
    for (const auto& kv : settings) kv.second(*d);
    if (given.count("ip")) d->ip += n;
    if (given.count("static")) d->staticIp += n;
    bool taken = Find(d->Mac()) != nullptr;
    for (auto& m : made) taken |= m->mac == d->mac;
    if (taken) {
      *error = "a device with MAC " + d->Mac() + " exists";
      return false;
    }
    if (!given.count("kvxr")) d->kvxr = d->model.compare(0, 2, "KV") == 0;
    if (!given.count("ip")) {
      if (!d->dhcp && given.count("static")) {
        d->ip = d->staticIp;
      } else {
        d->ip = NextFree(d->segment, used);
        if (d->ip == 0) {
          *error = "no free address left in the segment";
          return false;
        }
      }
    }
    used.insert(d->ip);
    if (!given.count("static")) d->staticIp = d->dhcp ? 0 : d->ip;
    if (!given.count("gw")) d->gw = (d->segment == Segment::B ? kBaseB : kBaseA) | 0xFE;
    for (auto& f : families_) f->OnSettings(*d, true);
    made.push_back(std::move(d));
  }
  for (auto& d : made) {
    macs->push_back(d->Mac());
    PlaceAddress(*d, true);
    byId_[d->id] = d.get();
    devices_.push_back(std::move(d));
  }
  return true;
}

void Simulator::Restart(Device& d, uint32_t ms, Power into) {
  if (d.power == Power::Down) return;
  PlaceAddress(d, false);
  d.power = Power::Down;
  d.bootInto = into;
  for (auto& f : families_) f->OnRestart(d);
  if (into == Power::Down) return;  // never comes back by itself
  AfterFor(d, ms, [this](Device& dev) { Boot(dev); });
}

void Simulator::Reboot(Device& d) {
  if (d.power != Power::Online) return;  // going down already
  if (d.rebootDelayMs == 0) {
    Restart(d, d.rebootMs);
    return;
  }
  d.power = Power::GoingDown;
  AfterFor(d, d.rebootDelayMs, [this](Device& dev) {
    if (dev.power == Power::GoingDown) Restart(dev, dev.rebootMs);
  });
}

void Simulator::Boot(Device& d) {
  if (d.power != Power::Down || d.bootInto == Power::Down) return;
  bool wasDhcp = d.dhcp;
  for (auto& f : families_) f->OnBoot(d);  // settings waiting for the restart apply now
  if (!d.dhcp) {
    d.ip = d.staticIp;
  } else if (!wasDhcp || d.ip == 0) {
    // leaving a static address: the simulator's own DHCP hands out a new one
    d.ip = 0;
    d.ip = Lease(d.segment);
  }
  d.power = d.bootInto;
  d.bootInto = Power::Online;
  ++d.boots;
  for (auto& f : families_) f->OnStarted(d);
  PlaceAddress(d, true);
}

void Simulator::Readdress(Device& d, uint32_t ip) {
  PlaceAddress(d, false);
  d.ip = ip;
  PlaceAddress(d, true);
}

}  // namespace qs::devsim
