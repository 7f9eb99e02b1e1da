#include "cli/support_firmware.h"

#include "app/logic/update_outcome.h"
#include "cli/command.h"
#include "library/KV-xR_update.h"
#include "library/status_text.h"
#include "platform/text.h"

namespace qs::cli {

bool LoadFirmwareArgument(const char* command, const std::string& path, app::Version* version) {
  if (path.empty() || path.size() > kMaxPathBytes) {
    Error(command, "the firmware file's path is empty or longer than " + std::to_string(kMaxPathBytes) + " bytes");
    return false;
  }
  for (unsigned char c : path) {
    if (c < 0x20) {
      Error(command, "the firmware file's path holds a control character");
      return false;
    }
  }
  std::u16string wide = plat::Utf8ToWide(path);
  KVxR_WCHAR text[32] = {};
  int32_t st = KVxR_SetFirmwareFile(reinterpret_cast<const KVxR_WCHAR*>(wide.c_str()), text, 32);
  if (st != 0) {
    Error(command, path + ": " + std::to_string(st) + ": " + kvxr::StatusMeaning(kvxr::Call::SetFirmwareFile, st));
    return false;
  }
  std::u16string v;
  for (size_t i = 0; i < 31 && text[i]; ++i) v.push_back(static_cast<char16_t>(text[i]));
  if (!app::ParseFirmwareVersion(v, *version)) {
    Error(command, path + ": the library gave the version '" + plat::WideToUtf8(v) + "', which names no firmware");
    return false;
  }
  return true;
}

picojson::value VersionJson(const app::Version& v) {
  if (app::IsZero(v)) return picojson::value();
  picojson::array a{picojson::value(static_cast<double>(v.major)), picojson::value(static_cast<double>(v.minor))};
  return picojson::value(a);
}

}  // namespace qs::cli
