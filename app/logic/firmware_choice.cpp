#include "app/logic/firmware_choice.h"

#include "library/KV-xR_update.h"

namespace qs::app {

void FirmwareChoice::Offer(const std::u16string& path, int32_t libraryResult, std::u16string_view versionText) {
  if (libraryResult != KVXR_OK) return;
  Version v;
  if (!ParseFirmwareVersion(versionText, v)) return;
  chosen_.path = path;
  chosen_.version = v;
}

FirmwareFile& LastAcceptedFirmware() {
  static FirmwareFile file;
  return file;
}

}  // namespace qs::app
