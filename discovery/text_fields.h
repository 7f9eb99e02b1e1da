// Field parsers shared by the text forms: the legacy text reply and the
// library's device lines. Decimal numbers are runs of 0-9 (at least one digit);
// hex groups take exactly two digits of either case; separators are single
// characters and no spaces are skipped. Each parser advances `pos` only on
// success.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qs::disc {

// A run of digits; false when there is none or the value exceeds `max`.
bool ParseDecimal(std::string_view s, size_t& pos, uint32_t max, uint32_t& out);

// Four numbers 0-255 separated by "."; host order, first number most significant.
bool ParseDottedQuad(std::string_view s, size_t& pos, uint32_t& out);

// Six groups of two hex digits; after each of the first five, one of `separators`.
bool ParseMacText(std::string_view s, size_t& pos, const char* separators, uint8_t mac[6]);

}  // namespace qs::disc
