// The device side of the wire formats the simulator speaks. The layouts and
// the decoders of what the simulator receives are the shared ones:
// discovery/frame.h (the authenticated frame, command and reply types,
// ports), discovery/announce.h, discovery/wink_request.h,
// library/set_config.h, library/reboot_request.h, library/opmode_report.h
// and library/version_reply.h. What stays here is what the simulator writes
// that a correct device would not: replies with a wrong length or digest, cut
// announces, malformed challenges and version texts (its fault modes). Its
// tests encode requests on their own (tests/support/sim_client.cpp), so that
// the library and the simulator cannot be wrong the same way.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/frame.h"

namespace qs::devsim {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kPortKv = disc::kCommandPort;  // text scan, winks, KV-xR discover, version, set-config, reboot
constexpr uint16_t kPortDiscover = disc::kDiscoverPort;  // the program's authenticated discover

using disc::kCmdDiscover;
using disc::kCmdReboot;
using disc::kCmdSetConfig;
using disc::kCmdWink;
using disc::kNonceSize;
using disc::kReplyAnnounce;
using disc::kReplyChallenge;
using disc::kReplySetConfigAck;
constexpr uint16_t kReplyOpMode = disc::kReplyOpModeReport;

constexpr size_t kHwIdSize = 16;
constexpr size_t kDigestSize = 20;
// A whole announce as devices send it (discovery/announce.h).
constexpr size_t kAnnounceFullPayload = 114;
constexpr size_t kModelField = 8, kSerialField = 24, kTextField = 40;
constexpr size_t kResponseSize = 24;
constexpr size_t kChallengeBytes = 16;

struct Request {
  uint8_t nonce[kNonceSize] = {};
  uint16_t command = 0;
  Bytes payload;
  bool digestOk = false;
};

// An authenticated request, read by disc::ParseRequest. False when the bytes
// are not shaped like one (too short, length field disagreeing with the size);
// a frame of the right shape with a wrong trailer parses with digestOk false.
bool ParseRequest(const uint8_t* data, size_t len, Request* out);

struct ReplyShape {
  uint32_t header = 0x01005351u;  // not interpreted by receivers
  bool badDigest = false;         // flip one bit of the trailer
  int lengthDelta = 0;            // written length field = real length + delta
};

Bytes BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const Bytes& payload,
                 const ReplyShape& shape = ReplyShape());

struct AnnounceFields {
  uint8_t hwid[kHwIdSize] = {};
  uint32_t address = 0;
  uint8_t mac[6] = {};
  bool dhcp = false;
  uint32_t staticAddress = 0, netmask = 0, gateway = 0;
  std::string model, serial, text;  // cut to their fields
  uint16_t word112 = 0;
};
// length: the payload's size; below 114 the announce is cut short (a fault).
Bytes AnnouncePayload(const AnnounceFields& f, size_t length = kAnnounceFullPayload);
// The NUL-padded field as an announce carries it (model, serial or text).
Bytes TextField(const std::string& value, size_t width);

// Items of the operation-mode report: the identifier, the mode, or both.
Bytes OpModeReport(const uint8_t* hwid, const uint8_t* mode);

// Read by kvxr::DecodeSetConfig.
struct SetConfig {
  uint8_t hwid[kHwIdSize] = {};
  uint8_t mac[6] = {};
  uint8_t dhcp = 0;
  uint8_t mode = 0;
  uint32_t address = 0, netmask = 0, gateway = 0;
  Bytes model, serial, text;  // the fields as received, full width
};
bool ParseSetConfig(const Bytes& payload, SetConfig* out);
Bytes SetConfigAck(bool accepted);

// Read by kvxr::DecodeRebootRequest.
struct Reboot {
  uint8_t hwid[kHwIdSize] = {};
  bool asking = false;   // the response field is all zero
  std::string response;  // up to its first NUL
};
bool ParseReboot(const Bytes& payload, Reboot* out);
Bytes ChallengePayload(const uint8_t hwid[kHwIdSize], const std::string& text);

Bytes TextReply(const std::string& code, uint32_t address, const uint8_t mac[6], const std::string& extra);
// Any text after "Version:", also a malformed one (a fault mode).
Bytes VersionReply(const std::string& text);

}  // namespace qs::devsim
