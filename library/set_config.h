// The set-config request: the payload of command kCmdSetConfig
// (discovery/frame.h), broadcast to the command port, and the device's
// acknowledgement, the payload of reply type kReplySetConfigAck.
//
// Request payload (108 bytes; the whole request is 148):
//   offset size  field
//        0   16  hardware identifier of the device meant
//       16    6  MAC address, as the device announced it
//       22    1  DHCP: 1; static: 0
//       23    1  operation mode
//       24    4  static IPv4 address, big-endian
//       28    4  netmask, big-endian
//       32    4  gateway, big-endian
//       36    8  model code, ASCII up to its first NUL, NUL-padded
//       44   24  serial number, ASCII up to its first NUL, NUL-padded
//       68   40  text field, the 40 bytes as the announce carried them
//      108       end
//
// Acknowledgement payload:
//        0    1  1: accepted; anything else, or no byte at all: refused
//        1       anything further is not read
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::kvxr {

constexpr size_t kSetConfigSize = 108;

struct SetConfigRequest {
  uint8_t hardwareId[16] = {};
  uint8_t mac[6] = {};
  bool dhcp = false;
  uint8_t operationMode = 0;
  uint32_t staticAddress = 0;  // host order
  uint32_t netmask = 0;
  uint32_t gateway = 0;
  uint8_t modelCode[8] = {};
  uint8_t serial[24] = {};
  uint8_t text[40] = {};
  uint8_t dhcpByte = 0;  // decoding only: byte 22 as received (a strict device refuses all but 0 and 1)
};

// The kSetConfigSize bytes of the payload.
std::vector<uint8_t> EncodeSetConfig(const SetConfigRequest& r);

// The device side: false unless the payload is exactly kSetConfigSize bytes.
// DHCP reads as requested only for the byte 1.
bool DecodeSetConfig(const uint8_t* payload, size_t len, SetConfigRequest* out);

std::vector<uint8_t> EncodeSetConfigAck(bool accepted);
// true when the acknowledgement accepts.
bool SetConfigAccepted(const uint8_t* payload, size_t len);

}  // namespace qs::kvxr
