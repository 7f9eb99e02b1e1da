// Status codes of setting the firmware file.
#pragma once
#include <cstdint>

namespace qs::fw {

constexpr int32_t kFwOk = 0;
constexpr int32_t kFwNotFound = -100;      // nothing at the path
constexpr int32_t kFwNotLoadable = -200;   // neither Intel HEX nor S-record (or contradictory data)
constexpr int32_t kFwNoInfo = -500;        // no "fw.info" marker in 0x4000..0x4FFF
constexpr int32_t kFwBadInfo = -501;       // not JSON, or "model"/"version" missing or not strings
constexpr int32_t kFwWrongModel = -502;    // "model" is not "KV-xR"
constexpr int32_t kFwBadVersion = -503;    // "version" is not number "." number

}  // namespace qs::fw
