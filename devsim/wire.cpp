#include "devsim/wire.h"

#include <algorithm>
#include <cstring>

#include "platform/sha1.h"
#include "runtime/bytes.h"

namespace qs::devsim {

bool ParseRequest(const uint8_t* data, size_t len, Request* out) {
  if (len < 40) return false;
  size_t n = bytes::GetLe16(data + 18);
  if (len != 40 + n) return false;
  std::memcpy(out->nonce, data, kNonceSize);
  out->command = bytes::GetLe16(data + 16);
  out->payload.assign(data + 20, data + 20 + n);
  uint8_t digest[kDigestSize];
  out->digestOk = plat::Sha1Digest(data, 20 + n, digest) && std::memcmp(digest, data + 20 + n, kDigestSize) == 0;
  return true;
}

Bytes BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const Bytes& payload, const ReplyShape& shape) {
  size_t n = payload.size();
  Bytes b(8 + n + kDigestSize);
  bytes::PutLe32(b.data(), shape.header);
  bytes::PutLe16(b.data() + 4, type);
  bytes::PutLe16(b.data() + 6, static_cast<uint16_t>(static_cast<int>(n) + shape.lengthDelta));
  if (n) std::memcpy(b.data() + 8, payload.data(), n);
  plat::Sha1 sha;
  sha.Update(nonce, kNonceSize);
  sha.Update(b.data(), 8 + n);
  sha.Final(b.data() + 8 + n);
  if (shape.badDigest) b[8 + n] ^= 0x01;
  return b;
}

Bytes TextField(const std::string& value, size_t width) {
  Bytes f(width, 0);
  std::memcpy(f.data(), value.data(), std::min(value.size(), width));
  return f;
}

Bytes AnnouncePayload(const AnnounceFields& f, size_t length) {
  Bytes p(std::max(kAnnounceMinPayload, length), 0);
  std::memcpy(p.data(), f.hwid, kHwIdSize);
  bytes::PutBe32(p.data() + 16, f.address);
  std::memcpy(p.data() + 20, f.mac, 6);
  p[26] = f.dhcp ? 1 : 0;
  bytes::PutBe32(p.data() + 27, f.staticAddress);
  bytes::PutBe32(p.data() + 31, f.netmask);
  bytes::PutBe32(p.data() + 35, f.gateway);
  Bytes model = TextField(f.model, kModelField), serial = TextField(f.serial, kSerialField),
        text = TextField(f.text, kTextField);
  std::copy(model.begin(), model.end(), p.begin() + 39);
  std::copy(serial.begin(), serial.end(), p.begin() + 47);
  std::copy(text.begin(), text.end(), p.begin() + 71);
  bytes::PutLe16(p.data() + 112, f.word112);
  p.resize(length);  // a short announce is a fault mode
  return p;
}

Bytes OpModeReport(const uint8_t* hwid, const uint8_t* mode) {
  Bytes p;
  if (hwid) {
    p.push_back(0xA0);
    p.push_back(kHwIdSize);
    p.insert(p.end(), hwid, hwid + kHwIdSize);
  }
  if (mode) {
    p.push_back(0xA1);
    p.push_back(1);
    p.push_back(*mode);
  }
  return p;
}

bool ParseSetConfig(const Bytes& payload, SetConfig* out) {
  if (payload.size() != kSetConfigPayload) return false;
  const uint8_t* p = payload.data();
  std::memcpy(out->hwid, p, kHwIdSize);
  std::memcpy(out->mac, p + 16, 6);
  out->dhcp = p[22];
  out->mode = p[23];
  out->address = bytes::GetBe32(p + 24);
  out->netmask = bytes::GetBe32(p + 28);
  out->gateway = bytes::GetBe32(p + 32);
  out->model.assign(p + 36, p + 36 + kModelField);
  out->serial.assign(p + 44, p + 44 + kSerialField);
  out->text.assign(p + 68, p + 68 + kTextField);
  return true;
}

Bytes SetConfigAck(bool accepted) { return Bytes{static_cast<uint8_t>(accepted ? 1 : 0)}; }

bool ParseReboot(const Bytes& payload, Reboot* out) {
  if (payload.size() != kRebootPayload) return false;
  const uint8_t* resp = payload.data() + kHwIdSize;
  std::memcpy(out->hwid, payload.data(), kHwIdSize);
  out->asking = std::all_of(resp, resp + kResponseSize, [](uint8_t b) { return b == 0; });
  out->response.assign(reinterpret_cast<const char*>(resp), strnlen(reinterpret_cast<const char*>(resp), kResponseSize));
  return true;
}

Bytes ChallengePayload(const uint8_t hwid[kHwIdSize], const std::string& text) {
  Bytes p(kRebootPayload, 0);
  std::memcpy(p.data(), hwid, kHwIdSize);
  std::memcpy(p.data() + kHwIdSize, text.data(), std::min(text.size(), kResponseSize));
  return p;
}

Bytes TextReply(const std::string& code, uint32_t address, const uint8_t mac[6], const std::string& extra) {
  std::string s = "\x02" + code + bytes::FormatIpv4(address) + ":" + bytes::FormatMac(mac) + extra + "\x03";
  return Bytes(s.begin(), s.end());
}

Bytes VersionReply(const std::string& text) {
  std::string s = "\x02Version:" + text;
  return Bytes(s.begin(), s.end());
}

std::string Base64Encode(const uint8_t* data, size_t len) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < len; i += 3) {
    uint32_t v = uint32_t(data[i]) << 16;
    if (i + 1 < len) v |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < len) v |= data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < len ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < len ? kAlphabet[v & 63] : '=';
  }
  return out;
}

}  // namespace qs::devsim
