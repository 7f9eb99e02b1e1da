// The library-wide current firmware: the image and its version, set together
// by a successful KVxR_SetFirmwareFile and read by the update and recovery
// code. Locked, so a reader on another thread always sees a matching pair.
#pragma once
#include <cstdint>
#include <string>

#include "firmware/binary_image.h"
#include "platform/lock.h"

namespace qs::fw {

struct CurrentFirmware {
  Ref<IBinaryImage> image;  // none until the first success
  uint32_t major = 0;
  uint32_t minor = 0;
};

class FirmwareFileState {
 public:
  FirmwareFileState() = default;
  FirmwareFileState(const FirmwareFileState&) = delete;
  FirmwareFileState& operator=(const FirmwareFileState&) = delete;

  // The one instance of the process.
  static FirmwareFileState& Instance();

  // Replaces image and version together; the previous image loses its reference.
  void Set(IBinaryImage* image, uint32_t major, uint32_t minor);
  // A counted reference to the current image (none if unset) and its version.
  CurrentFirmware Get() const;
  bool HasFirmware() const;

  // Loads path and, on success, makes it current; a failure leaves the
  // current firmware as it was. Returns the status of KVxR_SetFirmwareFile.
  int32_t SetFirmwareFile(const std::u16string& path, uint32_t& major, uint32_t& minor);

 private:
  mutable plat::RecursiveLock lock_;
  CurrentFirmware current_;
};

// The current firmware of the process (FirmwareFileState::Instance().Get()).
CurrentFirmware GetCurrentFirmware();

}  // namespace qs::fw
