// The device side of every wire format the simulator speaks, each encoded and
// decoded here and nowhere else:
//
// Authenticated request (PC -> device), integers little-endian:
//   nonce (16) | command (u16) | length N (u16) | payload (N) | SHA-1 of all before
// Authenticated reply (device -> PC):
//   header (4) | type (u16) | length N (u16) | payload (N) | SHA-1(nonce | all before)
// Announce payload (reply 0x5501), at least 114 bytes, addresses big-endian:
//   0 hwid (16) | 16 current address | 20 MAC (6) | 26 DHCP | 27 static address |
//   31 netmask | 35 gateway | 39 model (8, NUL-padded) | 47 serial (24) |
//   71 text (40) | 111 not read | 112 u16
// Operation-mode report (reply 0x5504): items tag | length L | L bytes;
//   0xA0 the hwid (16), 0xA1 the mode (1)
// Set-config payload (command 0xC102, 108 bytes): 0 hwid | 16 MAC | 22 DHCP |
//   23 mode | 24 static address | 28 netmask | 32 gateway | 36 model (8) |
//   44 serial (24) | 68 text (40)
// Set-config acknowledgement (reply 0x5502): byte 0 = 1 accepted, 0 refused
// Reboot payload (command 0xC103, 40 bytes): 0 hwid | 16 response (24, Base64
//   of the inverted challenge, NUL-padded; all zero when asking for one)
// Reboot challenge (reply 0x5503, 40 bytes): 0 hwid | 16 challenge (24,
//   Base64 of 16 bytes, NUL-terminated when shorter)
// Legacy text reply: 0x02 | model code | dotted address | ":" | MAC with "-" |
//   anything | 0x03
// Version reply: 0x02 | "Version:" | text
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs::devsim {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kPortKv = 9010;         // text scan, winks, KV-xR discover, version, set-config, reboot
constexpr uint16_t kPortDiscover = 59300;  // the program's authenticated discover

constexpr uint16_t kCmdDiscover = 0xC101;
constexpr uint16_t kCmdSetConfig = 0xC102;
constexpr uint16_t kCmdReboot = 0xC103;
constexpr uint16_t kCmdWink = 0xC104;
constexpr uint16_t kReplyAnnounce = 0x5501;
constexpr uint16_t kReplySetConfigAck = 0x5502;
constexpr uint16_t kReplyChallenge = 0x5503;
constexpr uint16_t kReplyOpMode = 0x5504;

constexpr size_t kNonceSize = 16;
constexpr size_t kHwIdSize = 16;
constexpr size_t kDigestSize = 20;
constexpr size_t kAnnounceMinPayload = 114;
constexpr size_t kModelField = 8, kSerialField = 24, kTextField = 40;
constexpr size_t kSetConfigPayload = 108;
constexpr size_t kRebootPayload = 40;
constexpr size_t kResponseSize = 24;
constexpr size_t kChallengeBytes = 16;

struct Request {
  uint8_t nonce[kNonceSize] = {};
  uint16_t command = 0;
  Bytes payload;
  bool digestOk = false;
};

// Splits an authenticated request. False when the bytes are not shaped like one
// (too short, length field disagreeing with the size); a frame of the right
// shape with a wrong trailer parses with digestOk false.
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
Bytes AnnouncePayload(const AnnounceFields& f, size_t length = kAnnounceMinPayload);
// The NUL-padded field as an announce carries it (model, serial or text).
Bytes TextField(const std::string& value, size_t width);

// Items of the operation-mode report: the identifier, the mode, or both.
Bytes OpModeReport(const uint8_t* hwid, const uint8_t* mode);

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

struct Reboot {
  uint8_t hwid[kHwIdSize] = {};
  bool asking = false;   // the response field is all zero
  std::string response;  // up to its first NUL
};
bool ParseReboot(const Bytes& payload, Reboot* out);
Bytes ChallengePayload(const uint8_t hwid[kHwIdSize], const std::string& text);

Bytes TextReply(const std::string& code, uint32_t address, const uint8_t mac[6], const std::string& extra);
Bytes VersionReply(const std::string& text);

std::string Base64Encode(const uint8_t* data, size_t len);

}  // namespace qs::devsim
