// The legacy text probe and its reply, on the command port (discovery/frame.h).
//
// Probe: the 4 ASCII bytes "Scan", no terminator, to the interface's directed
// broadcast address.
//
// Reply, with no separators other than those named:
//   0x02
//   model code           the compact code of the model table: the first row
//                        whose code is a prefix of what follows the 0x02 byte
//   IPv4 address         dotted decimal, each number 0-255, no blanks or signs
//   ":"
//   MAC address          six pairs of hexadecimal digits (either case) joined by "-"
//   anything             not read
//   0x03                 the last byte
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "discovery/model_table.h"

namespace qs::disc {

constexpr char kScanProbe[] = "Scan";
constexpr size_t kScanProbeSize = sizeof kScanProbe - 1;

struct TextReply {
  const ModelRow* row = nullptr;  // may be a row that is not listed; callers decide
  uint32_t address = 0;           // host order
  uint8_t mac[6] = {};
};

// false (out untouched) when any part of the layout is missing or malformed.
bool DecodeTextReply(const uint8_t* data, size_t len, TextReply* out);

// 0x02, code, address, ":", MAC in upper case, extra, 0x03.
std::vector<uint8_t> EncodeTextReply(std::string_view code, uint32_t address, const uint8_t mac[6],
                                     std::string_view extra);

}  // namespace qs::disc
