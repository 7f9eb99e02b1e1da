// The reboot challenge: an accepted challenge yields a token whose own
// challenge reads back the same, and the answer to it matches only it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "library/reboot_challenge.h"

using namespace qs::kvxr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t token[kRebootTokenSize];
  if (!ParseRebootChallenge(data, size, token)) return 0;
  if (size < kRebootChallengeMinSize || data[0] != 0x02) std::abort();
  const std::vector<uint8_t> c = BuildRebootChallenge(token);
  uint8_t again[kRebootTokenSize];
  if (!ParseRebootChallenge(c.data(), c.size(), again) || std::memcmp(again, token, sizeof token) != 0) std::abort();
  if (std::memcmp(c.data(), data, 8) != 0) std::abort();
  const std::vector<uint8_t> answer = BuildRebootAnswer(token);
  if (answer.size() != kRebootAnswerSize || !AnswerMatches(answer.data(), answer.size(), token)) std::abort();
  return 0;
}
