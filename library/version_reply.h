// The version query and its reply: plain text on the command port
// (discovery/frame.h), not framed.
//
// Query: the 8 ASCII bytes "?Version", no terminator, to the device's address.
//
// Reply:
//   offset size  field
//        0    1  0x02
//        1    8  "Version:"
//        9       version text: decimal digits (major), ".", decimal digits
//                (minor), ending at the first byte that is not a digit; no
//                blanks or signs; each number fits 32 bits
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::kvxr {

constexpr char kVersionQuery[] = "?Version";
constexpr size_t kVersionQuerySize = sizeof kVersionQuery - 1;

// false when the reply is malformed.
bool DecodeVersionReply(const uint8_t* data, size_t len, uint32_t* major, uint32_t* minor);

std::vector<uint8_t> EncodeVersionReply(uint32_t major, uint32_t minor);

}  // namespace qs::kvxr
