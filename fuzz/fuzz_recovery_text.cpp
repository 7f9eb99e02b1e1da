// The text that names a unit found in recovery mode: whatever the parser
// takes is exactly what the library writes for that unit (digits of either
// case), and whatever the library writes, the parser takes back unchanged.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "library/recovery_text.h"

using namespace qs::kvxr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  uint32_t address = 0;
  uint8_t mac[6] = {};
  if (ParseRecoveryText(text, size, &address, mac)) {
    if (size > kRecoveryTextMax) std::abort();
    const std::string again = FormatRecoveryText(address, mac);
    if (again.size() != size) std::abort();
    for (size_t i = 0; i < size; ++i)
      if (std::toupper(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(again[i])) std::abort();
  }
  // The other way: any address and MAC written out reads back the same.
  if (size >= 10) {
    uint32_t a = 0;
    std::memcpy(&a, data, 4);
    const std::string t = FormatRecoveryText(a, data + 4);
    uint32_t back = 0;
    uint8_t m[6] = {};
    if (t.size() > kRecoveryTextMax || !ParseRecoveryText(t.data(), t.size(), &back, m) || back != a ||
        std::memcmp(m, data + 4, 6) != 0)
      std::abort();
  }
  return 0;
}
