#include "devsim/device.h"

#include <cstring>

#include "runtime/bytes.h"

namespace qs::devsim {

namespace {

const char* const kSegmentNames[] = {"A", "B", "both"};
const char* const kPowerNames[] = {"online", "going-down", "rebooting", "loader"};
const char* const kDigestNames[] = {"good", "bad", "oldnonce"};
const char* const kMuteNames[] = {"text", "auth", "kv", "opmode", "version", "setcfg", "reboot", "challenge", "all"};
const char* const kOversizeNames[] = {"text", "announce", "opmode", "version", "ack", "challenge"};

bool ParseModel(const std::string& v, std::string* out) {
  if (v.empty() || !Printable(v, 16)) return false;
  *out = v;
  return true;
}

template <size_t N>
bool ParseBytes(const std::string& v, std::array<uint8_t, N>* out) {
  return bytes::ParseHex(v, out->data(), N);
}

bool ParseMacText(const std::string& v, std::array<uint8_t, 6>* out) {
  // with "-" or ":" between the pairs
  size_t pos = 0;
  return v.size() == 17 && bytes::ParseMacAt(v, pos, "-:", out->data()) && pos == v.size();
}

bool ParseAddress(const std::string& v, uint32_t* out) { return bytes::ParseIpv4(v, *out); }
std::string ShowAddress(const uint32_t& v) { return bytes::FormatIpv4(v); }

bool ParseVersion(const std::string& v, Device::Version* out) {
  size_t dot = v.find('.');
  uint64_t a = 0, b = 0;
  if (dot == std::string::npos || !ParseUnsigned(v.substr(0, dot), 0xFFFFFFFFu, &a) ||
      !ParseUnsigned(v.substr(dot + 1), 0xFFFFFFFFu, &b))
    return false;
  out->major = static_cast<uint32_t>(a);
  out->minor = static_cast<uint32_t>(b);
  return true;
}

bool ParseSegment(const std::string& v, Segment* out) {
  if (v == "A" || v == "a") *out = Segment::A;
  else if (v == "B" || v == "b") *out = Segment::B;
  else if (v == "both") *out = Segment::Both;
  else return false;
  return true;
}

}  // namespace

std::string Device::Mac() const { return bytes::FormatMac(mac.data()); }

AnnounceFields Device::Announce() const {
  AnnounceFields f;
  std::memcpy(f.hwid, hwid.data(), kHwIdSize);
  f.address = ip;
  std::memcpy(f.mac, mac.data(), 6);
  f.dhcp = dhcp;
  f.staticAddress = staticIp;
  f.netmask = mask;
  f.gateway = gw;
  f.model = model;
  f.serial = serial;
  f.text = text;
  f.word112 = word112;
  return f;
}

std::string SegmentName(Segment s) { return kSegmentNames[static_cast<size_t>(s)]; }

SettingTable CoreSettings() {
  Fields<Device> f([](Device& d) -> Device& { return d; });
  auto address = [&](const char* key, uint32_t Device::*m, const char* help) {
    return f.Value<uint32_t>(key, m, "A.B.C.D", help, ParseAddress, ShowAddress);
  };
  return {"device",
          {
              f.Value<std::string>("model", &Device::model, "CODE", "model code, 1 to 16 printable characters, sent as is",
                                   ParseModel, [](const std::string& v) { return v; }),
              f.Value<std::array<uint8_t, 6>>(
                  "mac", &Device::mac, "00-11-22-33-44-55", "names the device (\":\" too); add only",
                  ParseMacText, [](const std::array<uint8_t, 6>& v) { return bytes::FormatMac(v.data()); }),
              f.Value<std::array<uint8_t, kHwIdSize>>(
                  "hwid", &Device::hwid, "32 hex digits", "hardware identifier (random when not given)",
                  ParseBytes<kHwIdSize>,
                  [](const std::array<uint8_t, kHwIdSize>& v) { return bytes::HexText(v.data(), v.size()); }),
              address("ip", &Device::ip, "current address (leased from x.x.8.1 up when not given)"),
              f.Flag("dhcp", &Device::dhcp, "the address comes from DHCP"),
              address("static", &Device::staticIp, "configured static address"),
              address("mask", &Device::mask, "configured netmask; the directed broadcast it answers"),
              address("gw", &Device::gw, "configured gateway (x.x.0.254 of the segment when not given)"),
              f.Text("serial", &Device::serial, kSerialField, "serial number (QSnnnnnn when not given)"),
              f.Text("text", &Device::text, kTextField, "the announce's text field"),
              f.Value<Device::Version>("version", &Device::version, "MAJOR.MINOR", "firmware version", ParseVersion,
                                       [](const Device::Version& v) {
                                         return std::to_string(v.major) + "." + std::to_string(v.minor);
                                       }),
              f.Number<uint8_t>("opmode", &Device::opmode, 255, "operation mode"),
              f.Value<Segment>("segment", &Device::segment, "A|B|both", "the bridges it is on", ParseSegment,
                               [](const Segment& s) { return SegmentName(s); }),
              f.Number<uint16_t>("word112", &Device::word112, 0xFFFF, "the announce's 16-bit value at byte 112"),
              f.Flag("kvxr", &Device::kvxr, "speaks the KV-xR protocols of 9010 (default: model begins with KV)"),
              f.Kinds("mute", &Device::mute, kMuteNames, "those requests get no answer"),
              f.Kinds("oversize", &Device::oversize, kOversizeNames,
                      "those replies come after a datagram of oversize_size bytes"),
              f.Number<uint32_t>("oversize_size", &Device::oversizeSize, 65507,
                                 "bytes of that datagram (1025: one beyond the program's 1024-byte buffer)", 1),
              f.Choice("digest", &Device::digest, kDigestNames,
                       "trailer of authenticated replies: right, one bit off, or signed with the request before"),
              f.Value<int>(
                  "lenoff", &Device::lengthDelta, "-100..100", "length field of authenticated replies off by this",
                  [](const std::string& t, int* o) {
                    long x = 0;
                    if (!ParseSigned(t, -100, 100, &x)) return false;
                    *o = static_cast<int>(x);
                    return true;
                  },
                  [](const int& v) { return std::to_string(v); }),
              f.Number<uint32_t>("announce_len", &Device::announceLen, 1400, "announce payload bytes (114: complete)"),
              f.Number<uint32_t>("announce_repeat", &Device::announceRepeat, 100, "each announce and text reply this many times"),
              f.Millis("reboot_ms", &Device::rebootMs, "silent this long when restarting"),
              f.Millis("reboot_delay", &Device::rebootDelayMs,
                       "after accepting a reboot, still answers this long before going silent"),
              f.State("state", "online, going-down (a reboot accepted, still answering), rebooting, or loader (in its boot loader)",
                      [](const Device& d) { return std::string(kPowerNames[static_cast<size_t>(d.power)]); }),
              f.State("boots", "restarts completed", [](const Device& d) { return std::to_string(d.boots); }),
          }};
}

bool SplitKeyValue(const std::string& w, std::string* k, std::string* v) {
  size_t eq = w.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *k = w.substr(0, eq);
  *v = w.substr(eq + 1);
  return true;
}

std::string Quote(const std::string& v) {
  if (!v.empty() && v.find_first_of(" \t\"") == std::string::npos) return v;
  std::string s = "\"";
  for (char c : v)
    if (c != '"') s += c;
  return s + "\"";
}

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  std::string cur;
  bool in = false, quoted = false;
  for (char c : line) {
    if (quoted) {
      if (c == '"') quoted = false;
      else cur += c;
    } else if (c == '"') {
      quoted = true;
      in = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (in) words->push_back(cur);
      cur.clear();
      in = false;
    } else {
      cur += c;
      in = true;
    }
  }
  if (quoted) {
    *error = "unterminated quote";
    return false;
  }
  if (in) words->push_back(cur);
  return true;
}

}  // namespace qs::devsim
