// A protocol family: the requests it answers (routes), the state it keeps per
// device, and its settings table. The core (sim.h) owns the sockets, the
// device table, the logs and the control port; a family only reacts to the
// datagrams routed to it and answers through the core.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devsim/device.h"
#include "devsim/settings.h"
#include "devsim/wire.h"

namespace qs::devsim {

class Simulator;
class UdpPort;

// Where and how a datagram arrived.
struct Arrival {
  UdpPort* via = nullptr;  // the port it came in on; replies leave through it
  uint16_t port = 0;
  uint32_t src = 0;
  uint16_t srcPort = 0;
  uint32_t dst = 0;
  Segment seg = Segment::A;
  uint64_t seq = 0;  // its number in the receive log
};

struct Datagram {
  Arrival at;
  const uint8_t* data = nullptr;
  size_t len = 0;
  const Request* frame = nullptr;  // when shaped like an authenticated request
};

// One kind of request a family answers: a plain text on a port, an
// authenticated command on a port, or any datagram that a matcher of its own
// takes (tagged binary messages).
struct Route {
  uint16_t port = 0;
  std::string text;      // the whole datagram, for a plain request
  uint16_t command = 0;  // for an authenticated one (text empty, no matcher)
  std::function<bool(const uint8_t* data, size_t len)> match;  // when set: decides alone
  std::string kind;      // its name in the receive log
  bool probe = false;    // a scan or discover: the flood goes out around it
  bool unauthenticated = false;  // also handed over when its digest is wrong
  uint32_t group = 0;    // a multicast group the port joins on both bridges
  size_t logBytes = 512;  // bytes of the datagram kept in the receive log
  std::function<void(const Datagram&)> handle;
};

// Builds the authenticated replies of one answer of one device.
struct Signer {
  uint8_t nonce[kNonceSize] = {};
  ReplyShape shape;
  Bytes operator()(uint16_t type, const Bytes& payload) const { return BuildReply(nonce, type, payload, shape); }
};

// A reply and how it shows in the sent log.
struct Outgoing {
  Bytes data;
  Oversize oversize;  // which oversize= item puts a long datagram before it
  std::string kind;
};

class Family {
 public:
  virtual ~Family() = default;
  virtual std::unique_ptr<FamilyState> NewState() const = 0;
  // Called once, after Attach.
  virtual SettingTable Settings() const = 0;
  virtual std::vector<Route> Routes() = 0;
  // The device starts again after a restart (before it answers).
  virtual void OnBoot(Device&) {}
  // After OnBoot, once the device has its power state (online or loader) and
  // its address; a family may still change either.
  virtual void OnStarted(Device&) {}
  // The device goes silent for a restart.
  virtual void OnRestart(Device&) {}
  // Every setting of one add or set command has been written into the device
  // (adding: it is new); before its address goes on the network.
  virtual void OnSettings(Device&, bool /*adding*/) {}

  void Attach(Simulator* sim, size_t slot) {
    sim_ = sim;
    slot_ = slot;
    OnAttach();
  }

 protected:
  // Joined to the simulator (journals of its own are made here).
  virtual void OnAttach() {}
  Simulator& sim() const { return *sim_; }
  size_t slot() const { return slot_; }

 private:
  Simulator* sim_ = nullptr;
  size_t slot_ = 0;
};

// A family whose per-device state is S.
template <class S>
class FamilyOf : public Family {
 public:
  std::unique_ptr<FamilyState> NewState() const override { return std::make_unique<S>(); }

 protected:
  S& State(Device& d) const { return static_cast<S&>(*d.families[slot()]); }
  const S& State(const Device& d) const { return static_cast<const S&>(*d.families[slot()]); }
  // Rows of this family's settings table.
  Fields<S> Bind() const {
    return Fields<S>([this](Device& d) -> S& { return State(d); });
  }
};

}  // namespace qs::devsim
