// Firmware work on a KV-xR device, in words for the user and as a verdict:
// what a firmware file, an update or a recovery ended with, and when an
// update counts as done. The program's firmware dialogs and quillscan-cli
// share these texts and this rule.
#pragma once
#include <cstdint>
#include <string>

#include "app/logic/kvxr_settings.h"

namespace qs::app {

// KVxR_SetFirmwareFile's status.
std::string FirmwareFileMeaning(int32_t status);
// KVxR_UpdateFirmware's own status (the job did not start unless 0).
std::string UpdateStartMeaning(int32_t status);
// The final status an update or a recovery programming ends with.
std::string UpdateResultMeaning(int32_t status);
// KVxR_SetRecoveryMode's status.
std::string RecoveryModeMeaning(int32_t status);

enum class UpdateVerdict {
  Done,          // 1 or 0, and the device came back with the file's version
  Failed,        // the update ended with an error
  NotBack,       // 1 or 0, but the device was not seen again
  OtherVersion,  // 1 or 0, but the device came back with another version
};

// back: the device was seen again with a known version (after).
UpdateVerdict JudgeUpdate(int32_t status, bool back, const Version& after, const Version& file);

// "1.250" (the library's "%u.%03u").
std::string VersionText(const Version& v);

}  // namespace qs::app
