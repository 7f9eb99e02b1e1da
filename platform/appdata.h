// The machine-wide application-data folder, created when it does not exist.
// Windows: the shell's common application-data folder. Linux: the folder named
// by the environment variable QS_COMMON_APPDATA when it is set and not empty,
// else /var/log/quillscan (the library writes only logs there).
#pragma once
#include <string>

namespace qs::plat {

bool CommonAppDataFolder(std::u16string& out);

}  // namespace qs::plat
