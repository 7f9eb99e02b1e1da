#include "firmware/firmware_file_state.h"

#include "firmware/firmware_package.h"
#include "library/KV-xR_update.h"

namespace qs::fw {

FirmwareFileState& FirmwareFileState::Instance() {
  static FirmwareFileState state;
  return state;
}

void FirmwareFileState::Set(IBinaryImage* image, uint32_t major, uint32_t minor) {
  Ref<IBinaryImage> keep(image);
  {
    plat::ScopedLock hold(lock_);
    std::swap(current_.image, keep);
    current_.major = major;
    current_.minor = minor;
  }
  // keep now holds the previous image: released here, outside the lock.
}

CurrentFirmware FirmwareFileState::Get() const {
  plat::ScopedLock hold(lock_);
  return current_;
}

bool FirmwareFileState::HasFirmware() const {
  plat::ScopedLock hold(lock_);
  return static_cast<bool>(current_.image);
}

int32_t FirmwareFileState::SetFirmwareFile(const std::u16string& path, uint32_t& major, uint32_t& minor) {
  LoadedFirmware f = LoadFirmwareFile(path);
  if (f.status != KVXR_OK) return f.status;
  Set(f.image.get(), f.info.major, f.info.minor);
  major = f.info.major;
  minor = f.info.minor;
  return KVXR_OK;
}

CurrentFirmware GetCurrentFirmware() { return FirmwareFileState::Instance().Get(); }

}  // namespace qs::fw
