// Base64 (standard alphabet, "=" padding) for the reboot challenge.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs::kvxr {

std::string Base64Encode(const uint8_t* data, size_t len);
// Strict: the length a multiple of 4, only alphabet characters, padding only
// at the very end. false otherwise.
bool Base64Decode(const std::string& text, std::vector<uint8_t>* out);

}  // namespace qs::kvxr
