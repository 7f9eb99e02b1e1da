// The simulator: one process, any number of devices, one wildcard socket per
// device port, a line-based control port (control.h), all in one poll loop.
// The member functions live in one file per concern: sim.cpp (loop, sockets,
// logs, timers), devices.cpp (device table, addresses, leases),
// first_family.cpp (text scan, authenticated discover on 59300, winks),
// kvxr.cpp (discover on 9010, operation-mode report, version),
// config.cpp (set-config, reboot) and control.cpp (the control commands).
#pragma once
#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "devsim/device.h"
#include "devsim/netlink.h"

namespace qs::devsim {

constexpr uint16_t kPortKv = 9010;
constexpr uint16_t kPortDiscover = 59300;

struct Options {
  uint32_t controlAddress = 0;
  uint16_t controlPort = 7700;
  std::string readyFile;
  std::string configFile;
  std::vector<std::string> devices;  // specs from the command line
  bool manageAddresses = true;  // add device addresses to the bridges
  bool quiet = false;           // no per-datagram lines on stdout
  std::string bridgeA = "brA", bridgeB = "brB";
};

class Simulator {
 public:
  Simulator();
  ~Simulator();
  bool Start(const Options& options, std::string* error);
  // Runs until *stop becomes non-zero or "shutdown" arrives.
  void Run(volatile std::sig_atomic_t* stop);
  // One control line; reply lines without the closing OK/ERR.
  bool Control(const std::string& line, std::vector<std::string>* out, std::string* error);
  bool LoadConfig(const std::string& path, std::string* error);

 private:
  struct Port {
    uint16_t port;
    int fd;
  };
  struct Client {
    int fd;
    std::string in, out;
    bool closing = false;
  };
  // where and how a datagram arrived
  struct Arrival {
    uint16_t port;
    int fd;
    uint32_t src;
    uint16_t srcPort;
    uint32_t dst;
    Segment seg;
    uint64_t seq;
  };
  struct Flood {
    bool armed = false;
    uint32_t count = 0;
    uint32_t size = 64;
    uint32_t durationMs = 0;  // 0: all at once, half before and half after the replies
  };

  // sim.cpp: datagrams in and out
  void ReadPort(const Port& p);
  void OnDatagram(const Arrival& a, const uint8_t* data, size_t len, bool truncated);
  void SendFrom(int fd, const Device* d, uint32_t dst, uint16_t dstPort, const Bytes& data,
                const std::string& kind);
  // Sends now, or after ms when the device is still online then (reset cancels).
  void SendLater(uint32_t ms, const Device& d, const Arrival& a, std::vector<std::pair<Bytes, std::string>> out);
  void SendJunk(int fd, uint32_t dst, uint16_t dstPort, uint32_t count, uint32_t size);
  void StartFlood(int fd, uint32_t dst, uint16_t dstPort, const Flood& f);
  bool Addressed(const Device& d, uint32_t dst, Segment seg) const;
  bool Hears(const Device& d, const Arrival& a) const { return d.online && d.Reachable(a.seg); }
  ReplyShape Shape(const Device& d) const;
  // nonce a device signs with (its fault may bind it to the previous one)
  void SigningNonce(Device& d, const uint8_t* requestNonce, uint8_t out[kNonceSize]);
  void Log(const Arrival& a, const std::string& kind, const uint8_t* data, size_t len, const std::string& extra);
  void RecordWink(const Arrival& a, const std::string& kind, const std::string& hwid, const std::string& macs,
                  bool valid);

  // first_family.cpp
  void OnTextScan(const Arrival& a);
  void OnTextWink(const Arrival& a);
  void OnAuthDiscover(const Arrival& a, const Request& r);
  void OnAuthWink(const Arrival& a, const Request& r);

  // kvxr.cpp
  Bytes Announce(const Device& d) const;
  Bytes OpModeReport(const Device& d) const;
  void OnKvDiscover(const Arrival& a, const Request& r);
  void OnVersionQuery(const Arrival& a);

  // config.cpp
  void OnSetConfig(const Arrival& a, const Request& r);
  void OnReboot(const Arrival& a, const Request& r);
  void BeginReboot(Device& d, uint32_t ms);
  void FinishReboot(uint64_t id);

  // devices.cpp
  Device* Find(const std::string& mac);
  Device* FindId(uint64_t id);
  bool AddDevices(const std::vector<std::string>& words, size_t from, std::vector<std::string>* macs,
                  std::string* error);
  void RemoveDevice(Device* d);
  uint32_t Lease(Segment seg);
  void PlaceAddress(const Device& d, bool add);
  void ChangeAddress(int ifindex, uint32_t ip, bool add);

  // control.cpp
  void AcceptClients();
  void ServeClient(Client& c);
  bool ControlFlood(const std::vector<std::string>& w, std::string* error);

  // timers
  void After(uint32_t ms, std::function<void()> fn);
  void RunTimers();
  int NextTimeout() const;
  static uint64_t Now();

  Options opt_;
  std::vector<Port> ports_;
  int listener_ = -1;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<std::unique_ptr<Device>> devices_;
  uint64_t nextId_ = 1;
  uint32_t macCounter_ = 0;
  std::multimap<uint64_t, std::function<void()>> timers_;
  std::deque<std::string> log_, sent_, winks_;
  uint64_t seq_ = 0, sentSeq_ = 0, winkSeq_ = 0;
  std::map<std::pair<int, uint32_t>, int> placed_;  // (interface, address) -> users
  std::set<uint32_t> preexisting_;
  AddressTable addresses_;
  int ifA_ = 0, ifB_ = 0;
  Flood flood_;
  bool shutdown_ = false;
  uint64_t generation_ = 0;  // bumped by reset so that stale timers do nothing
};

}  // namespace qs::devsim
