#include "firmware/firmware_package.h"

#include <cstdio>
#include <exception>

#include "firmware/image_overlap.h"
#include "firmware/intellec_hex.h"
#include "firmware/motorola_hex.h"
#include "library/KV-xR_update.h"
#include "platform/file.h"

namespace qs::fw {

LoadedFirmware LoadFirmwareFile(const std::u16string& path) {
  LoadedFirmware r;
  if (path.empty() || !plat::FileExists(path)) {
    r.status = KVXR_FILE_NOT_FOUND;
    return r;
  }
  if (IBinaryImage* img = IntellecHex::Load(path)) {
    r.image = Ref<IBinaryImage>::Adopt(img);
    r.format = ImageFormat::IntelHex;
  } else if (IBinaryImage* img2 = MotorolaHex::Load(path)) {
    r.image = Ref<IBinaryImage>::Adopt(img2);
    r.format = ImageFormat::SRecord;
  } else {
    r.status = KVXR_NOT_FIRMWARE_FILE;
    return r;
  }
  try {
    r.conflicting = HasConflictingOverlap(r.image.get(), &r.conflictAt);
  } catch (const std::exception&) {
    r.status = KVXR_NOT_FIRMWARE_FILE;  // out of memory: not usable either way
    return r;
  }
  if (r.conflicting) {
    r.status = KVXR_NOT_FIRMWARE_FILE;
    return r;
  }
  r.status = ReadFirmwareInfo(r.image.get(), r.info);
  return r;
}

std::string VersionText(uint32_t major, uint32_t minor) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%u.%03u", static_cast<unsigned>(major), static_cast<unsigned>(minor));
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

void FormatVersionText(uint32_t major, uint32_t minor, char16_t* out, uint32_t capacity) {
  if (!out || capacity == 0) return;
  std::string t = VersionText(major, minor);
  size_t n = t.size() < capacity - 1 ? t.size() : capacity - 1;
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char16_t>(static_cast<unsigned char>(t[i]));
  out[n] = 0;
}

}  // namespace qs::fw
