// The text that names a unit found in recovery mode, passed with event 1 of
// the recovery callback: the unit's IPv4 address, "|", its MAC address.
//
//   "%u.%u.%u.%u|%02X:%02X:%02X:%02X:%02X:%02X"   e.g. "10.71.8.1|02:00:00:00:01:30"
//
// The parser is the callers' (the console front end's): strict, bounded, and
// it takes nothing that the format does not make.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qs::kvxr {

// At most 15 + 1 + 17 characters.
constexpr size_t kRecoveryTextMax = 33;

std::string FormatRecoveryText(uint32_t address, const uint8_t mac[6]);
// Exactly the format above (decimal numbers 0-255 without leading zeros,
// upper- or lower-case hexadecimal); false otherwise.
bool ParseRecoveryText(const char* text, size_t length, uint32_t* address, uint8_t mac[6]);

}  // namespace qs::kvxr
