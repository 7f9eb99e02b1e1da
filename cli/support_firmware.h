// What the firmware commands share: loading the firmware file into the
// library (as the program does with the file it chose), versions as text and
// as JSON.
#pragma once
#include <picojson.h>

#include <string>

#include "app/logic/kvxr_settings.h"

namespace qs::cli {

// At most this many bytes of a path are taken from the command line.
constexpr size_t kMaxPathBytes = 4096;

// Checks the path, hands it to KVxR_SetFirmwareFile and reads back the
// version; says why not ("quillscan-cli <command>: <file>: ...").
bool LoadFirmwareArgument(const char* command, const std::string& path, app::Version* version);

// [major, minor], or null for an unknown version (0.000).
picojson::value VersionJson(const app::Version& v);

}  // namespace qs::cli
