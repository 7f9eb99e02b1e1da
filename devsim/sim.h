// The simulator's core: one process playing any number of devices. It owns the
// event loop, the UDP ports (opened for the routes the families declare), the
// device table, the journals and the control port (control.h); the protocol
// families (family.h) answer what is routed to them.
//
//   sim.cpp      start-up, ports, routing of datagrams, replies, journals
//   devices.cpp  the device table: adding, removing, addresses, leases, restarts
//   control.cpp  the control commands and the control port's clients
//   flood.cpp    junk traffic
#pragma once
#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "devsim/device.h"
#include "devsim/family.h"
#include "devsim/journal.h"
#include "devsim/loop.h"
#include "devsim/netlink.h"
#include "devsim/udp.h"

namespace qs::devsim {

struct Options {
  uint32_t controlAddress = 0;
  uint16_t controlPort = 7700;
  std::string readyFile;
  std::string configFile;
  std::vector<std::string> devices;  // specs from the command line
  bool manageAddresses = true;       // add device addresses to the bridges
  bool quiet = false;                // no per-datagram lines on stdout
  std::string bridgeA = "brA", bridgeB = "brB";
};

class Simulator {
 public:
  Simulator();
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Before Start: a family and its table (false when a key is taken already).
  bool AddFamily(std::unique_ptr<Family> family, std::string* error);
  bool Start(const Options& options, std::string* error);
  // Runs until *stop becomes non-zero or "shutdown" arrives.
  void Run(volatile std::sig_atomic_t* stop);
  // One control line; reply lines without the closing OK/ERR. Works before
  // Start too (for tests of the tables).
  bool Control(const std::string& line, std::vector<std::string>* out, std::string* error);
  bool LoadConfig(const std::string& path, std::string* error);

  // ---- for the families ----
  const std::vector<std::unique_ptr<Device>>& devices() const { return devices_; }
  EventLoop& loop() { return loop_; }
  // The device answers requests on this segment now.
  bool Hears(const Device& d, const Arrival& a) const { return d.Answers() && d.Reachable(a.seg); }
  // dst is the device's own address, its directed broadcast, or 255.255.255.255.
  bool Addressed(const Device& d, const Arrival& a) const;
  // Signs d's replies to request r as d's faults say (once per answer: every
  // reply of one answer is signed alike).
  Signer SignerFor(Device& d, const Request& r);
  // Sends to the sender of a, after ms when d still answers then (each
  // oversize= item first puts its long datagram in front).
  void Reply(Device& d, const Arrival& a, uint32_t ms, std::vector<Outgoing> out);
  // fn(d) after ms, when the device still exists.
  void AfterFor(const Device& d, uint32_t ms, std::function<void(Device&)> fn);
  // Goes silent now and starts again after ms, its application running
  // (into online) or its boot loader (into loader); into rebooting: it never
  // comes back by itself.
  void Restart(Device& d, uint32_t ms, Power into = Power::Online);
  Device* FindId(uint64_t id);
  // The device takes another address (0: none) now.
  void Readdress(Device& d, uint32_t ip);
  // Sends now through the UDP port of a route from the address src (0: the
  // bridge's own, as routing chooses), logged as d's.
  void SendFrom(const Device& d, uint32_t src, UdpPort& via, uint32_t dst, uint16_t dstPort, const Bytes& data,
                const std::string& kind);
  // Sends now to 255.255.255.255:dstPort through the UDP port numbered port,
  // once on each bridge of d's segment, from d's address (or the bridge's
  // when d has none).
  void Broadcast(const Device& d, uint16_t port, uint16_t dstPort, const Bytes& data, const std::string& kind);
  // A journal of the family's own, printed by the control command name.
  Journal* AddJournal(const std::string& name);

 private:
  struct Port {
    std::unique_ptr<UdpPort> udp;
    EventLoop::Id watch = 0;
    std::vector<Route> routes;
  };
  struct Client {
    int fd = -1;
    EventLoop::Id watch = 0;
    std::string in, out;
    bool closing = false;
  };
  struct Flood {
    bool armed = false;
    uint32_t count = 0;
    uint32_t size = 64;
    uint32_t durationMs = 0;  // 0: all at once, half before and half after the replies
  };

  // sim.cpp
  void ReadPort(Port& p);
  void OnDatagram(Port& p, const Arrival& a, const uint8_t* data, size_t len, bool truncated);
  void Send(UdpPort& via, const Device* d, uint32_t dst, uint16_t dstPort, const Bytes& data, const std::string& kind);
  void SendVia(UdpPort& via, const Device* d, uint32_t src, int ifindex, uint32_t dst, uint16_t dstPort,
               const Bytes& data, const std::string& kind);
  void LogReceived(const Arrival& a, const std::string& kind, const uint8_t* data, size_t len,
                   const std::string& extra, size_t logBytes);
  void JoinGroups();
  Segment SegmentOf(int ifindex);

  // devices.cpp
  Device* Find(const std::string& mac);
  std::unique_ptr<Device> NewDevice();
  bool ParseSettings(const std::vector<std::string>& words, size_t from, bool adding,
                     std::vector<std::pair<std::string, Apply>>* out, uint32_t* count, std::string* error);
  bool AddDevices(const std::vector<std::string>& words, size_t from, std::vector<std::string>* macs,
                  std::string* error);
  void RemoveDevice(Device* d);
  uint32_t Lease(Segment seg);
  void PlaceAddress(const Device& d, bool add);
  void ChangeAddress(int ifindex, uint32_t ip, bool add);
  void Boot(Device& d);

  // control.cpp
  void AcceptClients();
  void ServeClient(Client& c);
  void CloseClient(EventLoop::Id id);
  bool ControlFlood(const std::vector<std::string>& w, std::string* error);
  std::vector<std::string> Help() const;
  std::vector<std::pair<std::string, std::string>> Describe(const Device& d) const;

  // flood.cpp
  void SendJunk(UdpPort& via, uint32_t dst, uint16_t dstPort, uint32_t count, uint32_t size);
  void StartFlood(UdpPort& via, uint32_t dst, uint16_t dstPort, const Flood& f);
  UdpPort* DefaultPort();

  Options opt_;
  EventLoop loop_;
  std::vector<std::unique_ptr<Family>> families_;
  std::vector<SettingTable> tables_;  // the core's first, then one per family
  std::map<std::string, const Setting*> keys_;
  std::map<uint16_t, Port> ports_;
  std::map<uint16_t, std::string> commandKinds_;  // authenticated command -> log kind
  EventLoop::Id listenerWatch_ = 0;
  int listener_ = -1;
  std::map<EventLoop::Id, std::unique_ptr<Client>> clients_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::unordered_map<uint64_t, Device*> byId_;
  uint64_t nextId_ = 1;
  uint32_t macCounter_ = 0;
  std::vector<std::unique_ptr<Journal>> journals_;  // log, sent, then the families'
  Journal* received_ = nullptr;
  Journal* sent_ = nullptr;
  std::map<std::pair<int, uint32_t>, int> placed_;  // (interface, address) -> users
  std::set<uint32_t> preexisting_;
  AddressTable addresses_;
  int ifA_ = 0, ifB_ = 0;
  Flood flood_;
  bool shutdown_ = false;
};

}  // namespace qs::devsim
