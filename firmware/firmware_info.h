// The "fw.info" description every KV-xR firmware carries in its own image,
// somewhere in the address window 0x4000..0x4FFF: the marker, then a JSON
// object naming the family ("model") and the version ("version").
#pragma once
#include <cstdint>
#include <string>

#include "firmware/binary_image.h"

namespace qs::fw {

constexpr uint32_t kInfoWindowStart = 0x4000;
constexpr uint32_t kInfoWindowSize = 0x1000;

struct FirmwareInfo {
  uint32_t major = 0;
  uint32_t minor = 0;
};

// KVXR_OK, KVXR_NO_FW_INFO, KVXR_BAD_FW_INFO, KVXR_WRONG_FAMILY or
// KVXR_BAD_FW_VERSION (library/KV-xR_update.h).
int32_t ReadFirmwareInfo(IBinaryImage* image, FirmwareInfo& info);

// The version text: decimal major, ".", decimal minor; leading blanks and a
// "+" before each number are accepted, text after the minor is ignored. A
// missing number, a "-" or a number above 4294967295 refuses the text.
bool ParseVersionText(const std::u16string& text, uint32_t& major, uint32_t& minor);

}  // namespace qs::fw
