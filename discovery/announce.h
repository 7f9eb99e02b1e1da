// The announce: the payload of reply type kReplyAnnounce (discovery/frame.h),
// a device's answer to the discover request. Offsets within the payload:
//
//   offset size  field
//        0   16  hardware identifier
//       16    4  current IPv4 address, big-endian
//       20    6  MAC address, transmission order
//       26    1  1: DHCP in use; anything else: static configuration
//       27    4  configured static IPv4 address, big-endian
//       31    4  configured netmask, big-endian
//       35    4  configured gateway, big-endian
//       39    8  model code, ASCII, NUL-padded
//       47   24  serial number, ASCII, NUL-padded
//       71   40  text, ASCII, NUL-padded
//      111    1  not read
//      112    2  16-bit value, little-endian
//      114       end: the whole payload as devices send it
//
// Readers need only a prefix of it: the program's scan reads up to the model
// code, the library up to the first 16 bytes of the text (its device record
// keeps serial and text start together as one 40-byte field).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::disc {

constexpr size_t kAnnounceSize = 114;
constexpr size_t kAnnounceNeededByScan = 47;     // through the model code
constexpr size_t kAnnounceNeededByLibrary = 87;  // through the text's first 16 bytes

struct Announce {
  uint8_t hardwareId[16] = {};
  uint32_t address = 0;  // host order
  uint8_t mac[6] = {};
  bool dhcp = false;
  uint32_t staticAddress = 0;
  uint32_t netmask = 0;
  uint32_t gateway = 0;
  uint8_t modelCode[8] = {};
  uint8_t serial[24] = {};
  uint8_t text[40] = {};
  uint16_t word112 = 0;
};

// Reads the fields of a payload of at least `needed` bytes; at most
// kAnnounceSize bytes are read, and what a shorter payload lacks reads as
// zeros. false (out untouched) when the payload is shorter than `needed`.
bool DecodeAnnounce(const uint8_t* payload, size_t len, size_t needed, Announce* out);

// The kAnnounceSize bytes of the payload; byte 111 is 0.
std::vector<uint8_t> EncodeAnnounce(const Announce& a);

}  // namespace qs::disc
