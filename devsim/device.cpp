#include "devsim/device.h"

#include <algorithm>
#include <cstdlib>

namespace qs::devsim {

namespace {

bool ParseUint(const std::string& v, uint64_t max, uint64_t* out) {
  if (v.empty() || v.size() > 12) return false;
  uint64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > max) return false;
  *out = n;
  return true;
}

bool ParseBool(const std::string& v, bool* out) {
  if (v == "1" || v == "yes" || v == "on") { *out = true; return true; }
  if (v == "0" || v == "no" || v == "off") { *out = false; return true; }
  return false;
}

bool OneOf(const std::string& v, std::initializer_list<const char*> options) {
  for (const char* o : options)
    if (v == o) return true;
  return false;
}

bool Ascii(const std::string& v, size_t max) {
  if (v.size() > max) return false;
  for (unsigned char c : v)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

std::vector<std::string> SplitComma(const std::string& v) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= v.size()) {
    size_t end = v.find(',', start);
    if (end == std::string::npos) end = v.size();
    if (end > start) out.push_back(v.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string JoinComma(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += (s.empty() ? "" : ",") + x;
  return s.empty() ? "-" : s;
}

}  // namespace

bool Device::Muted(const std::string& kind) const {
  return std::find(mute.begin(), mute.end(), kind) != mute.end() ||
         std::find(mute.begin(), mute.end(), "all") != mute.end();
}

bool Device::Oversized(const std::string& reply) const {
  std::string k = reply.compare(0, 7, "setcfg-") == 0 ? "ack" : reply;
  return std::find(oversize.begin(), oversize.end(), k) != oversize.end();
}

std::string SegmentName(Segment s) {
  return s == Segment::A ? "A" : s == Segment::B ? "B" : "both";
}

bool ApplySetting(Device& d, const std::string& key, const std::string& v, std::string* error) {
  uint64_t n = 0;
  bool ok = true;
  auto bad = [&](const char* why) {
    *error = "bad value for " + key + ": " + why;
    return false;
  };
  if (key == "model") {
    if (v.empty() || !Ascii(v, 16)) return bad("1 to 16 printable characters");
    d.model = v;
  } else if (key == "mac") {
    if (!ParseMac(v, d.mac)) return bad("six hex pairs separated by - or :");
  } else if (key == "hwid") {
    Bytes b;
    if (!ParseHex(v, &b) || b.size() != kHwIdSize) return bad("32 hex digits");
    std::copy(b.begin(), b.end(), d.hwid);
  } else if (key == "ip") {
    ok = ParseIp(v, &d.ip);
  } else if (key == "static") {
    ok = ParseIp(v, &d.staticIp);
  } else if (key == "mask") {
    ok = ParseIp(v, &d.mask);
  } else if (key == "gw") {
    ok = ParseIp(v, &d.gw);
  } else if (key == "dhcp") {
    ok = ParseBool(v, &d.dhcp);
  } else if (key == "serial") {
    if (!Ascii(v, 24)) return bad("at most 24 printable characters");
    d.serial = v;
  } else if (key == "text") {
    if (!Ascii(v, 40)) return bad("at most 40 printable characters");
    d.text = v;
  } else if (key == "version") {
    size_t dot = v.find('.');
    uint64_t a = 0, b = 0;
    if (dot == std::string::npos || !ParseUint(v.substr(0, dot), 0xFFFFFFFFu, &a) ||
        !ParseUint(v.substr(dot + 1), 0xFFFFFFFFu, &b))
      return bad("major.minor");
    d.verMajor = static_cast<uint32_t>(a);
    d.verMinor = static_cast<uint32_t>(b);
  } else if (key == "opmode") {
    ok = ParseUint(v, 255, &n);
    d.opmode = static_cast<uint8_t>(n);
  } else if (key == "segment") {
    if (v == "A" || v == "a") d.segment = Segment::A;
    else if (v == "B" || v == "b") d.segment = Segment::B;
    else if (v == "both") d.segment = Segment::Both;
    else return bad("A, B or both");
  } else if (key == "word112") {
    ok = ParseUint(v, 0xFFFF, &n);
    d.word112 = static_cast<uint16_t>(n);
  } else if (key == "reply") {
    if (!OneOf(v, {"text", "auth", "both", "none"})) return bad("text, auth, both or none");
    d.replyText = v == "text" || v == "both";
    d.replyAuth = v == "auth" || v == "both";
  } else if (key == "kvxr") {
    ok = ParseBool(v, &d.kvxr);
  } else if (key == "text_extra") {
    if (!Ascii(v, 200)) return bad("at most 200 printable characters");
    d.textExtra = v;
  } else if (key == "mute") {
    std::vector<std::string> kinds = v == "-" ? std::vector<std::string>() : SplitComma(v);
    for (const auto& k : kinds)
      if (!OneOf(k, {"text", "auth", "kv", "opmode", "version", "setcfg", "reboot", "challenge", "all"}))
        return bad("comma list of text auth kv opmode version setcfg reboot challenge all, or -");
    d.mute = kinds;
  } else if (key == "oversize") {
    std::vector<std::string> kinds = v == "-" ? std::vector<std::string>() : SplitComma(v);
    for (const auto& k : kinds)
      if (!OneOf(k, {"text", "announce", "opmode", "version", "ack", "challenge"}))
        return bad("comma list of text announce opmode version ack challenge, or -");
    d.oversize = kinds;
  } else if (key == "digest") {
    if (!OneOf(v, {"good", "bad", "oldnonce"})) return bad("good, bad or oldnonce");
    d.digest = v;
  } else if (key == "lenoff") {
    char* end = nullptr;
    long x = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || x < -100 || x > 100) return bad("-100 to 100");
    d.lengthDelta = static_cast<int>(x);
  } else if (key == "announce_len") {
    ok = ParseUint(v, 1400, &n);
    d.announceLen = static_cast<int>(n);
  } else if (key == "announce_repeat") {
    ok = ParseUint(v, 100, &n);
    d.announceRepeat = static_cast<int>(n);
  } else if (key == "opmode_items") {
    if (!OneOf(v, {"both", "mode", "id", "none"})) return bad("both, mode, id or none");
    d.opmodeItems = v;
  } else if (key == "opmode_order") {
    if (!OneOf(v, {"before", "after"})) return bad("before or after");
    d.opmodeOrder = v;
  } else if (key == "text_delay") {
    ok = ParseUint(v, 600000, &n);
    d.textDelayMs = static_cast<uint32_t>(n);
  } else if (key == "ack_delay") {
    ok = ParseUint(v, 600000, &n);
    d.ackDelayMs = static_cast<uint32_t>(n);
  } else if (key == "challenge_delay") {
    ok = ParseUint(v, 600000, &n);
    d.challengeDelayMs = static_cast<uint32_t>(n);
  } else if (key == "kv_delay") {
    ok = ParseUint(v, 600000, &n);
    d.kvDelayMs = static_cast<uint32_t>(n);
  } else if (key == "auth_delay") {
    ok = ParseUint(v, 600000, &n);
    d.authDelayMs = static_cast<uint32_t>(n);
  } else if (key == "version_delay") {
    ok = ParseUint(v, 600000, &n);
    d.versionDelayMs = static_cast<uint32_t>(n);
  } else if (key == "version_format") {
    if (!OneOf(v, {"good", "space", "garbage", "nodot", "short"}))
      return bad("good, space, garbage, nodot or short");
    d.versionFormat = v;
  } else if (key == "ack") {
    if (!OneOf(v, {"accept", "refuse", "none"})) return bad("accept, refuse or none");
    d.ack = v;
  } else if (key == "challenge") {
    if (!OneOf(v, {"good", "zeros", "malformed", "none"})) return bad("good, zeros, malformed or none");
    d.challenge = v;
  } else if (key == "reboot_ms") {
    ok = ParseUint(v, 600000, &n);
    d.rebootMs = static_cast<uint32_t>(n);
  } else {
    *error = "unknown key " + key;
    return false;
  }
  if (!ok) return bad("malformed");
  return true;
}

std::vector<std::pair<std::string, std::string>> DescribeDevice(const Device& d) {
  std::vector<std::pair<std::string, std::string>> o;
  o.emplace_back("mac", d.Mac());
  o.emplace_back("model", d.model);
  o.emplace_back("hwid", Hex(d.hwid, kHwIdSize));
  o.emplace_back("ip", FormatIp(d.ip));
  o.emplace_back("dhcp", d.dhcp ? "1" : "0");
  o.emplace_back("static", FormatIp(d.staticIp));
  o.emplace_back("mask", FormatIp(d.mask));
  o.emplace_back("gw", FormatIp(d.gw));
  o.emplace_back("serial", d.serial);
  o.emplace_back("text", d.text);
  o.emplace_back("version", std::to_string(d.verMajor) + "." + std::to_string(d.verMinor));
  o.emplace_back("opmode", std::to_string(d.opmode));
  o.emplace_back("segment", SegmentName(d.segment));
  o.emplace_back("word112", std::to_string(d.word112));
  o.emplace_back("reply", d.replyText && d.replyAuth ? "both" : d.replyText ? "text" : d.replyAuth ? "auth" : "none");
  o.emplace_back("kvxr", d.kvxr ? "1" : "0");
  o.emplace_back("text_extra", d.textExtra);
  o.emplace_back("mute", JoinComma(d.mute));
  o.emplace_back("oversize", JoinComma(d.oversize));
  o.emplace_back("digest", d.digest);
  o.emplace_back("lenoff", std::to_string(d.lengthDelta));
  o.emplace_back("announce_len", std::to_string(d.announceLen));
  o.emplace_back("announce_repeat", std::to_string(d.announceRepeat));
  o.emplace_back("opmode_items", d.opmodeItems);
  o.emplace_back("opmode_order", d.opmodeOrder);
  o.emplace_back("text_delay", std::to_string(d.textDelayMs));
  o.emplace_back("kv_delay", std::to_string(d.kvDelayMs));
  o.emplace_back("auth_delay", std::to_string(d.authDelayMs));
  o.emplace_back("version_delay", std::to_string(d.versionDelayMs));
  o.emplace_back("ack_delay", std::to_string(d.ackDelayMs));
  o.emplace_back("challenge_delay", std::to_string(d.challengeDelayMs));
  o.emplace_back("version_format", d.versionFormat);
  o.emplace_back("ack", d.ack);
  o.emplace_back("challenge", d.challenge);
  o.emplace_back("reboot_ms", std::to_string(d.rebootMs));
  o.emplace_back("state", d.online ? "online" : "rebooting");
  o.emplace_back("pending", d.pending ? "1" : "0");
  if (d.pending) {
    o.emplace_back("pending_dhcp", d.pDhcp ? "1" : "0");
    o.emplace_back("pending_static", FormatIp(d.pStatic));
    o.emplace_back("pending_mask", FormatIp(d.pMask));
    o.emplace_back("pending_gw", FormatIp(d.pGw));
  }
  o.emplace_back("setcfg_count", std::to_string(d.setcfgCount));
  o.emplace_back("last_setcfg", d.lastSetcfg);
  o.emplace_back("reboot_requests", std::to_string(d.rebootRequests));
  o.emplace_back("reboot_count", std::to_string(d.rebootCount));
  o.emplace_back("boots", std::to_string(d.boots));
  o.emplace_back("wrong_responses", std::to_string(d.wrongResponses));
  o.emplace_back("last_response", d.lastResponse);
  o.emplace_back("wink_count", std::to_string(d.winkCount));
  return o;
}

std::string Quote(const std::string& v) {
  if (!v.empty() && v.find_first_of(" \t\"") == std::string::npos) return v;
  std::string s = "\"";
  for (char c : v)
    if (c != '"') s += c;
  return s + "\"";
}

bool ParseCount(const std::string& v, uint32_t max, uint32_t* out) {
  uint64_t n = 0;
  if (!ParseUint(v, max, &n)) return false;
  *out = static_cast<uint32_t>(n);
  return true;
}

bool SplitKeyValue(const std::string& w, std::string* k, std::string* v) {
  size_t eq = w.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *k = w.substr(0, eq);
  *v = w.substr(eq + 1);
  return true;
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
