// When a firmware update of a KV-xR device counts as done. The program's
// firmware dialogs and quillscan-cli share this rule; the words for each
// status are library/status_text.h's.
#pragma once
#include <cstdint>
#include <string>

#include "app/logic/kvxr_settings.h"

namespace qs::app {

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
