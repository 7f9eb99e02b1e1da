#include "devsim/wire.h"

#include <algorithm>
#include <cstring>

#include "discovery/announce.h"
#include "library/opmode_report.h"
#include "library/reboot_request.h"
#include "library/set_config.h"
#include "platform/sha1.h"
#include "runtime/bytes.h"

namespace qs::devsim {

bool ParseRequest(const uint8_t* data, size_t len, Request* out) {
  disc::ParsedRequest r;
  if (!disc::ParseRequest(data, len, &r)) return false;
  std::memcpy(out->nonce, r.nonce, kNonceSize);
  out->command = r.command;
  out->payload.assign(r.payload, r.payload + r.length);
  out->digestOk = r.digestOk;
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
  disc::Announce a;
  std::memcpy(a.hardwareId, f.hwid, kHwIdSize);
  a.address = f.address;
  std::memcpy(a.mac, f.mac, 6);
  a.dhcp = f.dhcp;
  a.staticAddress = f.staticAddress;
  a.netmask = f.netmask;
  a.gateway = f.gateway;
  Bytes model = TextField(f.model, kModelField), serial = TextField(f.serial, kSerialField),
        text = TextField(f.text, kTextField);
  std::memcpy(a.modelCode, model.data(), kModelField);
  std::memcpy(a.serial, serial.data(), kSerialField);
  std::memcpy(a.text, text.data(), kTextField);
  a.word112 = f.word112;
  Bytes p = disc::EncodeAnnounce(a);
  p.resize(length);  // a short announce is a fault mode; a longer one is padded with zeros
  return p;
}

Bytes OpModeReport(const uint8_t* hwid, const uint8_t* mode) {
  kvxr::OpModeReport r;
  r.hasId = hwid != nullptr;
  if (hwid) std::memcpy(r.hardwareId, hwid, kHwIdSize);
  r.hasMode = mode != nullptr;
  if (mode) r.mode = *mode;
  return kvxr::EncodeOpModeReport(r);
}

bool ParseSetConfig(const Bytes& payload, SetConfig* out) {
  kvxr::SetConfigRequest r;
  if (!kvxr::DecodeSetConfig(payload.data(), payload.size(), &r)) return false;
  std::memcpy(out->hwid, r.hardwareId, kHwIdSize);
  std::memcpy(out->mac, r.mac, 6);
  out->dhcp = r.dhcpByte;
  out->mode = r.operationMode;
  out->address = r.staticAddress;
  out->netmask = r.netmask;
  out->gateway = r.gateway;
  out->model.assign(r.modelCode, r.modelCode + kModelField);
  out->serial.assign(r.serial, r.serial + kSerialField);
  out->text.assign(r.text, r.text + kTextField);
  return true;
}

Bytes SetConfigAck(bool accepted) { return kvxr::EncodeSetConfigAck(accepted); }

bool ParseReboot(const Bytes& payload, Reboot* out) {
  kvxr::RebootRequest r;
  if (!kvxr::DecodeRebootRequest(payload.data(), payload.size(), &r)) return false;
  std::memcpy(out->hwid, r.hardwareId, kHwIdSize);
  out->asking = r.first;
  out->response = r.response.text;
  return true;
}

Bytes ChallengePayload(const uint8_t hwid[kHwIdSize], const std::string& text) {
  Bytes p(kvxr::kRebootSize, 0);
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

}  // namespace qs::devsim
