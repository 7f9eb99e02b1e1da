#include <stdlib.h>

#include "platform/appdata.h"
#include "platform/file.h"
#include "platform/text.h"

namespace qs::plat {

bool CommonAppDataFolder(std::u16string& out) {
  const char* env = getenv("QS_COMMON_APPDATA");
  out = Utf8ToWide(env && *env ? env : "/var/log/quillscan");
  return CreateFolders(out);
}

}  // namespace qs::plat
