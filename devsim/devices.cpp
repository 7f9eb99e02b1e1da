// The device table: adding and removing devices, their addresses on the
// bridges, and the addresses the simulator hands out to DHCP devices.
#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "devsim/sim.h"
#include "platform/uuid.h"

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
  if (!ParseMac(mac, m)) return nullptr;
  for (auto& d : devices_)
    if (std::memcmp(d->mac, m, 6) == 0) return d.get();
  return nullptr;
}

Device* Simulator::FindId(uint64_t id) {
  for (auto& d : devices_)
    if (d->id == id) return d.get();
  return nullptr;
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
  if (!ok) std::fprintf(stderr, "devsim: %s %s: %s\n", add ? "add" : "remove", FormatIp(ip).c_str(), why.c_str());
}

void Simulator::PlaceAddress(const Device& d, bool add) {
  if (!opt_.manageAddresses || d.ip == 0 || preexisting_.count(d.ip)) return;
  if (add && !d.online) return;
  if (ifA_ == 0) ifA_ = static_cast<int>(if_nametoindex(opt_.bridgeA.c_str()));
  if (ifB_ == 0) ifB_ = static_cast<int>(if_nametoindex(opt_.bridgeB.c_str()));
  if (d.segment != Segment::B && ifA_) ChangeAddress(ifA_, d.ip, add);
  if (d.segment != Segment::A && ifB_) ChangeAddress(ifB_, d.ip, add);
}

void Simulator::RemoveDevice(Device* d) {
  PlaceAddress(*d, false);
  devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                [d](const std::unique_ptr<Device>& x) { return x.get() == d; }),
                 devices_.end());
}

// words[from..]: key=value settings, and count=N for N devices alike but for
// MAC, identifier, serial and (when given) consecutive addresses.
bool Simulator::AddDevices(const std::vector<std::string>& words, size_t from, std::vector<std::string>* macs,
                           std::string* error) {
  uint32_t count = 1;
  std::vector<std::pair<std::string, std::string>> settings;
  for (size_t i = from; i < words.size(); ++i) {
    std::string k, v;
    if (!SplitKeyValue(words[i], &k, &v)) {
      *error = "expected key=value: " + words[i];
      return false;
    }
    if (k == "count") {
      if (!ParseCount(v, kMaxBatch, &count) || count == 0) {
        *error = "count is 1 to " + std::to_string(kMaxBatch);
        return false;
      }
      continue;
    }
    settings.emplace_back(k, v);
  }
  if (devices_.size() + count > kMaxDevices) {
    *error = "at most " + std::to_string(kMaxDevices) + " devices";
    return false;
  }
  std::vector<std::unique_ptr<Device>> made;
  std::set<uint32_t> used;
  for (auto& d : devices_) used.insert(d->ip);
  for (uint32_t n = 0; n < count; ++n) {
    auto d = std::make_unique<Device>();
    d->id = nextId_++;
    ++macCounter_;
    uint8_t mac[6] = {0x02, 0x51, 0x53, static_cast<uint8_t>(macCounter_ >> 16), static_cast<uint8_t>(macCounter_ >> 8),
                      static_cast<uint8_t>(macCounter_)};
    std::memcpy(d->mac, mac, 6);
    plat::NewUuid(d->hwid);
    char serial[16];
    std::snprintf(serial, sizeof serial, "QS%06u", macCounter_);
    d->serial = serial;
    bool haveIp = false, haveStatic = false, haveKvxr = false, haveGw = false;
    for (const auto& kv : settings) {
      if (count > 1 && (kv.first == "mac" || kv.first == "hwid" || kv.first == "serial")) {
        *error = kv.first + " names one device: not with count";
        return false;
      }
      if (!ApplySetting(*d, kv.first, kv.second, error)) return false;
      haveIp |= kv.first == "ip";
      haveStatic |= kv.first == "static";
      haveKvxr |= kv.first == "kvxr";
      haveGw |= kv.first == "gw";
    }
    if (haveIp) d->ip += n;
    if (haveStatic) d->staticIp += n;
    if (Find(d->Mac())) {
      *error = "a device with MAC " + d->Mac() + " exists";
      return false;
    }
    for (auto& m : made)
      if (std::memcmp(m->mac, d->mac, 6) == 0) {
        *error = "a device with MAC " + d->Mac() + " exists";
        return false;
      }
    if (!haveKvxr) d->kvxr = d->model.compare(0, 2, "KV") == 0;
    if (!haveIp) {
      if (!d->dhcp && haveStatic) {
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
    if (!haveStatic) d->staticIp = d->dhcp ? 0 : d->ip;
    if (!haveGw) d->gw = (d->segment == Segment::B ? kBaseB : kBaseA) | 0xFE;
    made.push_back(std::move(d));
  }
  for (auto& d : made) {
    macs->push_back(d->Mac());
    PlaceAddress(*d, true);
    devices_.push_back(std::move(d));
  }
  return true;
}

}  // namespace qs::devsim
