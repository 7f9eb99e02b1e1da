#include "library/reboot_request.h"

#include <cstring>
#include <string>

#include "library/base64.h"

namespace qs::kvxr {

namespace {
// A text field: up to 24 characters, ending at the first NUL.
RebootText ReadText(const uint8_t* field) {
  RebootText t;
  for (size_t i = 0; i < kRebootTextSize && field[i]; ++i) t.text[i] = static_cast<char>(field[i]);
  return t;
}

RebootText TextOf(const std::string& s) {
  RebootText t;
  std::memcpy(t.text, s.data(), s.size() < kRebootTextSize ? s.size() : kRebootTextSize);
  return t;
}

std::vector<uint8_t> Payload(const uint8_t hardwareId[16], const RebootText* text) {
  std::vector<uint8_t> v(kRebootSize, 0);
  std::memcpy(v.data(), hardwareId, 16);
  if (text) std::memcpy(v.data() + 16, text->text, kRebootTextSize);
  return v;
}
}  // namespace

std::vector<uint8_t> EncodeRebootRequest(const uint8_t hardwareId[16], const RebootText* response) {
  return Payload(hardwareId, response);
}

bool DecodeRebootRequest(const uint8_t* p, size_t len, RebootRequest* out) {
  if (!p || !out || len != kRebootSize) return false;
  RebootRequest r;
  std::memcpy(r.hardwareId, p, 16);
  r.first = true;
  for (size_t i = 16; i < kRebootSize; ++i) r.first = r.first && p[i] == 0;
  r.response = ReadText(p + 16);
  *out = r;
  return true;
}

std::vector<uint8_t> EncodeChallenge(const uint8_t hardwareId[16], const uint8_t challenge[kChallengeBytes]) {
  RebootText t = TextOf(Base64Encode(challenge, kChallengeBytes));
  return Payload(hardwareId, &t);
}

bool DecodeChallenge(const uint8_t* p, size_t len, uint8_t challenge[kChallengeBytes]) {
  if (!p || len < kRebootSize) return false;
  std::vector<uint8_t> bytes;
  if (!Base64Decode(ReadText(p + 16).text, &bytes) || bytes.size() != kChallengeBytes) return false;
  std::memcpy(challenge, bytes.data(), kChallengeBytes);
  return true;
}

RebootText ResponseTo(const uint8_t challenge[kChallengeBytes]) {
  uint8_t inverted[kChallengeBytes];
  for (size_t i = 0; i < kChallengeBytes; ++i) inverted[i] = static_cast<uint8_t>(~challenge[i]);
  return TextOf(Base64Encode(inverted, kChallengeBytes));
}

}  // namespace qs::kvxr
