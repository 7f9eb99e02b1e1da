#include "library/reboot_challenge.h"

#include <cstring>
#include <string>

#include "library/base64.h"

namespace qs::kvxr {

namespace {
constexpr char kWord[] = "Reboot";
constexpr size_t kTextOffset = 8;
constexpr size_t kTextMax = 24;

std::string InvertedText(const uint8_t token[kRebootTokenSize]) {
  uint8_t inv[kRebootTokenSize];
  for (size_t i = 0; i < kRebootTokenSize; ++i) inv[i] = static_cast<uint8_t>(~token[i]);
  return Base64Encode(inv, sizeof inv);
}
}  // namespace

std::vector<uint8_t> BuildRebootRequest() { return std::vector<uint8_t>(kWord, kWord + 6); }

bool ParseRebootChallenge(const uint8_t* p, size_t len, uint8_t token[kRebootTokenSize]) {
  if (!p || len < kRebootChallengeMinSize) return false;
  if (p[0] != 0x02 || std::memcmp(p + 1, "?Reboot", 7) != 0) return false;
  size_t n = 0;
  while (n < kTextMax && p[kTextOffset + n] != 0) ++n;
  std::vector<uint8_t> decoded;
  if (!Base64Decode(std::string(reinterpret_cast<const char*>(p + kTextOffset), n), &decoded)) return false;
  if (decoded.size() != kRebootTokenSize) return false;
  std::memcpy(token, decoded.data(), kRebootTokenSize);
  return true;
}

std::vector<uint8_t> BuildRebootAnswer(const uint8_t token[kRebootTokenSize]) {
  std::vector<uint8_t> out(kWord, kWord + 6);
  const std::string text = InvertedText(token);
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

std::vector<uint8_t> BuildRebootChallenge(const uint8_t token[kRebootTokenSize]) {
  std::vector<uint8_t> out(kRebootChallengeMinSize, 0);
  out[0] = 0x02;
  std::memcpy(out.data() + 1, "?Reboot", 7);
  const std::string text = Base64Encode(token, kRebootTokenSize);
  std::memcpy(out.data() + kTextOffset, text.data(), text.size());
  return out;
}

bool AnswerMatches(const uint8_t* p, size_t len, const uint8_t token[kRebootTokenSize]) {
  const std::vector<uint8_t> want = BuildRebootAnswer(token);
  return p && len == want.size() && std::memcmp(p, want.data(), len) == 0;
}

}  // namespace qs::kvxr
