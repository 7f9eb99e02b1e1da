// Pairs of hexadecimal digits (either case) to bytes, high digit first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qs::fw {

// Decodes every pair of digits into out; -1 when the count is odd, a character
// is not a hex digit, or the bytes would not fit in capacity.
int DecodeHexPairs(std::string_view digits, uint8_t* out, size_t capacity);

}  // namespace qs::fw
