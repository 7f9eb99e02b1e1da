#include <windows.h>
#include <shlobj.h>

#include "platform/appdata.h"

namespace qs::plat {

bool CommonAppDataFolder(std::u16string& out) {
  wchar_t buf[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buf, CSIDL_COMMON_APPDATA, TRUE)) return false;
  out.assign(reinterpret_cast<const char16_t*>(buf));
  return !out.empty();
}

}  // namespace qs::plat
