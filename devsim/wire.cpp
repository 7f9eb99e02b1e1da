#include "devsim/wire.h"

#include <cstdio>
#include <cstring>

#include "platform/sha1.h"

namespace qs::devsim {

void PutU16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

uint32_t GetBe32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

bool ParseRequest(const uint8_t* data, size_t len, Request* out) {
  if (len < 40) return false;
  size_t n = GetU16(data + 18);
  if (len != 40 + n) return false;
  std::memcpy(out->nonce, data, kNonceSize);
  out->command = GetU16(data + 16);
  out->payload.assign(data + 20, data + 20 + n);
  uint8_t digest[kDigestSize];
  out->digestOk = plat::Sha1Digest(data, 20 + n, digest) &&
                  std::memcmp(digest, data + 20 + n, kDigestSize) == 0;
  return true;
}

Bytes BuildReply(const uint8_t nonce[kNonceSize], uint16_t type, const Bytes& payload,
                 const ReplyShape& shape) {
  size_t n = payload.size();
  Bytes b(8 + n + kDigestSize);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(shape.header >> (8 * i));
  PutU16(b, 4, type);
  PutU16(b, 6, static_cast<uint16_t>(static_cast<int>(n) + shape.lengthDelta));
  if (n) std::memcpy(b.data() + 8, payload.data(), n);
  plat::Sha1 sha;
  sha.Update(nonce, kNonceSize);
  sha.Update(b.data(), 8 + n);
  sha.Final(b.data() + 8 + n);
  if (shape.badDigest) b[8 + n] ^= 0x01;
  return b;
}

Bytes BuildTextReply(const std::string& code, uint32_t address, const uint8_t mac[6],
                     const std::string& extra) {
  std::string s = "\x02" + code + FormatIp(address) + ":" + FormatMac(mac) + extra + "\x03";
  return Bytes(s.begin(), s.end());
}

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string Base64Encode(const uint8_t* data, size_t len) {
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

std::string Hex(const uint8_t* data, size_t len) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  s.reserve(len * 2);
  for (size_t i = 0; i < len; ++i) {
    s += d[data[i] >> 4];
    s += d[data[i] & 15];
  }
  return s;
}

bool ParseHex(const std::string& text, Bytes* out) {
  out->clear();
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int a = HexDigit(text[i]), b = HexDigit(text[i + 1]);
    if (a < 0 || b < 0) return false;
    out->push_back(static_cast<uint8_t>(a * 16 + b));
  }
  return true;
}

std::string FormatIp(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (a >> 24) & 255u, (a >> 16) & 255u, (a >> 8) & 255u,
                a & 255u);
  return buf;
}

bool ParseIp(const std::string& text, uint32_t* out) {
  uint32_t v = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    size_t start = i;
    uint32_t n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) n = n * 10 + (text[i++] - '0');
    if (i == start || n > 255) return false;
    v = (v << 8) | n;
  }
  if (i != text.size()) return false;
  *out = v;
  return true;
}

std::string FormatMac(const uint8_t mac[6]) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
  return buf;
}

bool ParseMac(const std::string& text, uint8_t mac[6]) {
  if (text.size() != 17) return false;
  for (int i = 0; i < 6; ++i) {
    if (i && text[3 * i - 1] != '-' && text[3 * i - 1] != ':') return false;
    int a = HexDigit(text[3 * i]), b = HexDigit(text[3 * i + 1]);
    if (a < 0 || b < 0) return false;
    mac[i] = static_cast<uint8_t>(a * 16 + b);
  }
  return true;
}

}  // namespace qs::devsim
