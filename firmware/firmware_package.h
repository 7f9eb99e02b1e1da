// Loading a firmware file as the library does: existence, Intel HEX first and
// S-record second, then the "fw.info" description. Nothing here changes the
// current firmware; see firmware_file_state.h.
#pragma once
#include <cstdint>
#include <string>

#include "firmware/binary_image.h"
#include "firmware/firmware_info.h"

namespace qs::fw {

enum class ImageFormat { None, IntelHex, SRecord };

struct LoadedFirmware {
  int32_t status = 0;                // a KVXR_ status of KVxR_SetFirmwareFile
  ImageFormat format = ImageFormat::None;  // the reader that took the file, if any
  Ref<IBinaryImage> image;           // set whenever a reader took the file
  bool conflicting = false;          // refused: one address given different bytes
  uint32_t conflictAt = 0;           // that address, when conflicting
  FirmwareInfo info;                 // valid when status is 0
};

LoadedFirmware LoadFirmwareFile(const std::u16string& path);

// "%u.%03u" into out, cut to capacity - 1 characters and NUL-terminated;
// nothing is written when out is null or capacity is 0.
void FormatVersionText(uint32_t major, uint32_t minor, char16_t* out, uint32_t capacity);
std::string VersionText(uint32_t major, uint32_t minor);

}  // namespace qs::fw
