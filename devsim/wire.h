// Device side of the datagram formats: authenticated request/reply frames,
// the legacy text reply, and Base64 for the reboot challenge.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs::devsim {

using Bytes = std::vector<uint8_t>;

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

// header | type | length | payload | SHA-1(nonce | everything before)
Bytes BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const Bytes& payload,
                 const ReplyShape& shape = ReplyShape());

// 0x02 code dotted ":" MAC-with-dashes extra 0x03
Bytes BuildTextReply(const std::string& code, uint32_t address, const uint8_t mac[6],
                     const std::string& extra);

std::string Base64Encode(const uint8_t* data, size_t len);

std::string Hex(const uint8_t* data, size_t len);
bool ParseHex(const std::string& text, Bytes* out);
std::string FormatIp(uint32_t address);
bool ParseIp(const std::string& text, uint32_t* out);
std::string FormatMac(const uint8_t mac[6]);
bool ParseMac(const std::string& text, uint8_t mac[6]);

void PutU16(Bytes& b, size_t at, uint16_t v);
uint16_t GetU16(const uint8_t* p);
void PutBe32(Bytes& b, size_t at, uint32_t v);
uint32_t GetBe32(const uint8_t* p);

}  // namespace qs::devsim
