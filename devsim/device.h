// One simulated device as the core keeps it: identity and addresses, the reply
// faults that every protocol family obeys, its power state, and a slot per
// family for that family's own state. The core's settings table (identity,
// reply faults, restarts) is in device.cpp; each family declares its own.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devsim/settings.h"
#include "devsim/wire.h"

namespace qs::devsim {

enum class Segment : uint8_t { A, B, Both };
// online: its application answers; going-down: has accepted a reboot and
// still answers until its delay is over; rebooting: silent until it starts
// again; loader: in its boot loader, which answers only the update's own
// protocols.
enum class Power : uint8_t { Online, GoingDown, Down, Loader };
enum class Digest : uint8_t { Good, Bad, OldNonce };
// What a device can be made to leave unanswered (mute=).
enum class Mute : uint8_t { Text, Auth, Kv, OpMode, Version, SetCfg, Reboot, Challenge, All };
// Replies that can be preceded by a datagram larger than a receive buffer (oversize=).
enum class Oversize : uint8_t { Text, Announce, OpMode, Version, Ack, Challenge };

// The part of a device that belongs to one protocol family.
struct FamilyState {
  virtual ~FamilyState() = default;
};

struct Device {
  uint64_t id = 0;  // the simulator's handle; timers name devices by it

  // identity and addresses
  std::string model = "KV1R";
  std::array<uint8_t, 6> mac = {};
  std::array<uint8_t, kHwIdSize> hwid = {};
  uint32_t ip = 0;  // current address
  bool dhcp = false;
  uint32_t staticIp = 0;  // configured static address
  uint32_t mask = 0xFFFFF000u;
  uint32_t gw = 0;
  std::string serial, text;
  struct Version {
    uint32_t major = 1, minor = 12;
  } version;
  uint8_t opmode = 0;
  uint16_t word112 = 0;
  Segment segment = Segment::A;
  bool kvxr = false;  // speaks the KV-xR protocols of port 9010

  // reply faults
  KindSet<Mute> mute;
  KindSet<Oversize> oversize;
  uint32_t oversizeSize = 3000;
  Digest digest = Digest::Good;
  int lengthDelta = 0;
  uint32_t announceLen = kAnnounceFullPayload;
  uint32_t announceRepeat = 1;

  // restarts
  uint32_t rebootMs = 3000;    // silent this long
  uint32_t rebootDelayMs = 0;  // still answering this long after accepting a reboot
  Power power = Power::Online;
  Power bootInto = Power::Online;  // what runs when a restart ends
  uint32_t boots = 0;

  // the nonce of the request before, for digest=oldnonce
  bool hasLastNonce = false;
  uint8_t lastNonce[kNonceSize] = {};

  // each family's state, at the family's slot
  std::vector<std::unique_ptr<FamilyState>> families;

  bool Muted(Mute k) const { return mute.Has(k) || mute.Has(Mute::All); }
  bool Answers() const { return power == Power::Online || power == Power::GoingDown; }  // the application runs
  bool Powered() const { return power != Power::Down; }    // its address is on the network
  bool Reachable(Segment arrival) const { return segment == Segment::Both || segment == arrival; }
  std::string Mac() const;
  AnnounceFields Announce() const;
};

std::string SegmentName(Segment s);

// The core's rows: identity, reply faults, restarts and power state.
SettingTable CoreSettings();

// Splits a line into words; double quotes group words ("text=two words").
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);
bool SplitKeyValue(const std::string& w, std::string* k, std::string* v);
std::string Quote(const std::string& v);  // double quotes when it has blanks

}  // namespace qs::devsim
