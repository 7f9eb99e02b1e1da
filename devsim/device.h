// One simulated device: identity, settings, reply behaviour, faults and the
// state that requests change. Every field is a key=value setting so that the
// configuration file, the control port and "show" speak the same language.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "devsim/wire.h"

namespace qs::devsim {

enum class Segment { A, B, Both };

struct Device {
  // identity and settings
  std::string model = "KV1R";
  uint8_t mac[6] = {};
  uint8_t hwid[kHwIdSize] = {};
  uint32_t ip = 0;            // current address
  bool dhcp = false;
  uint32_t staticIp = 0;      // configured static address
  uint32_t mask = 0xFFFFF000u;
  uint32_t gw = 0;
  std::string serial;
  std::string text;
  uint32_t verMajor = 1, verMinor = 12;
  uint8_t opmode = 0;
  Segment segment = Segment::A;
  uint16_t word112 = 0;

  // which protocols it speaks
  bool replyText = true;      // legacy "Scan"
  bool replyAuth = true;      // discover on 59300
  bool kvxr = false;          // discover on 9010, version, set-config, reboot
  std::string textExtra;      // trailing text of the legacy reply

  // faults
  std::vector<std::string> mute;  // text auth kv opmode version setcfg reboot challenge all
  // replies preceded by a datagram larger than any receive buffer of the PC
  std::vector<std::string> oversize;  // text announce opmode version ack challenge
  std::string digest = "good";    // good | bad | oldnonce
  int lengthDelta = 0;
  int announceLen = 114;
  int announceRepeat = 1;
  std::string opmodeItems = "both";  // both | mode | id | none
  std::string opmodeOrder = "before";  // before | after
  uint32_t textDelayMs = 0;
  uint32_t kvDelayMs = 0;
  uint32_t authDelayMs = 0;
  uint32_t versionDelayMs = 0;
  uint32_t ackDelayMs = 0;
  uint32_t challengeDelayMs = 0;
  std::string versionFormat = "good";  // good | space | garbage | nodot | short
  std::string ack = "accept";          // accept | refuse | none
  std::string challenge = "good";      // good | zeros | malformed | none
  uint32_t rebootMs = 3000;

  // state
  uint64_t id = 0;  // the simulator's handle; timers name devices by it
  bool online = true;
  uint8_t challengeNonce[kNonceSize] = {};
  bool pending = false;  // a set-config was accepted and waits for a reboot
  bool pDhcp = false;
  uint32_t pStatic = 0, pMask = 0, pGw = 0;
  std::string lastSetcfg = "-";  // payload of the last set-config, hex
  bool hasLastNonce = false;
  uint8_t lastNonce[kNonceSize] = {};
  bool hasChallenge = false;
  uint8_t challengeBytes[16] = {};
  uint32_t setcfgCount = 0, rebootRequests = 0, rebootCount = 0, wrongResponses = 0, winkCount = 0, boots = 0;
  std::string lastResponse = "none";

  bool Muted(const std::string& kind) const;
  bool Oversized(const std::string& reply) const;
  bool Reachable(Segment arrival) const { return segment == Segment::Both || segment == arrival; }
  std::string Mac() const { return FormatMac(mac); }
};

// Applies "key=value" settings; false with a reason for an unknown key or a bad
// value. Keys "mac" and "hwid" are accepted too (add only, in practice).
bool ApplySetting(Device& d, const std::string& key, const std::string& value, std::string* error);

// Every setting and state value, one "key=value" each, in a fixed order.
std::vector<std::pair<std::string, std::string>> DescribeDevice(const Device& d);

std::string SegmentName(Segment s);

// Text helpers of the settings language.
std::string Quote(const std::string& v);  // double quotes when it has blanks
bool ParseCount(const std::string& v, uint32_t max, uint32_t* out);
bool SplitKeyValue(const std::string& w, std::string* k, std::string* v);

// Splits a line into words; double quotes group words ("text=two words").
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);

}  // namespace qs::devsim
