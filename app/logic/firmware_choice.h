// The firmware file the program offers: every file next to the program that
// the library accepts replaces the previous choice, so the last accepted one
// stays, whatever its version.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "app/logic/kvxr_settings.h"

namespace qs::app {

struct FirmwareFile {
  std::u16string path;  // empty when none was accepted
  Version version;      // (0, 0) when none
};

class FirmwareChoice {
 public:
  // One file: the library's result for it and the version text it wrote.
  void Offer(const std::u16string& path, int32_t libraryResult, std::u16string_view versionText);
  const FirmwareFile& chosen() const { return chosen_; }

 private:
  FirmwareFile chosen_;
};

// The process-wide firmware file, the last one the library accepted whatever
// its version (not necessarily the newest), read by the pages and dialogs.
FirmwareFile& LastAcceptedFirmware();

}  // namespace qs::app
