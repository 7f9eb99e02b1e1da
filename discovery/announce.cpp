#include "discovery/announce.h"

#include <cstring>

#include "runtime/bytes.h"

namespace qs::disc {

using namespace bytes;

bool DecodeAnnounce(const uint8_t* payload, size_t len, size_t needed, Announce* out) {
  if (!payload || !out || len < needed) return false;
  // A shorter payload is read as if padded with zeros; nothing past it is touched.
  uint8_t p[kAnnounceSize] = {};
  std::memcpy(p, payload, len < kAnnounceSize ? len : kAnnounceSize);
  Announce a;
  std::memcpy(a.hardwareId, p + 0, 16);
  a.address = GetBe32(p + 16);
  std::memcpy(a.mac, p + 20, 6);
  a.dhcp = p[26] == 1;
  a.staticAddress = GetBe32(p + 27);
  a.netmask = GetBe32(p + 31);
  a.gateway = GetBe32(p + 35);
  std::memcpy(a.modelCode, p + 39, 8);
  std::memcpy(a.serial, p + 47, 24);
  std::memcpy(a.text, p + 71, 40);
  a.word112 = GetLe16(p + 112);
  *out = a;
  return true;
}

std::vector<uint8_t> EncodeAnnounce(const Announce& a) {
  std::vector<uint8_t> v(kAnnounceSize, 0);
  uint8_t* p = v.data();
  std::memcpy(p + 0, a.hardwareId, 16);
  PutBe32(p + 16, a.address);
  std::memcpy(p + 20, a.mac, 6);
  p[26] = a.dhcp ? 1 : 0;
  PutBe32(p + 27, a.staticAddress);
  PutBe32(p + 31, a.netmask);
  PutBe32(p + 35, a.gateway);
  std::memcpy(p + 39, a.modelCode, 8);
  std::memcpy(p + 47, a.serial, 24);
  std::memcpy(p + 71, a.text, 40);
  PutLe16(p + 112, a.word112);
  return v;
}

}  // namespace qs::disc
