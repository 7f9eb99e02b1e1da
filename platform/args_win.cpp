#include <windows.h>
#include <shellapi.h>

#include "platform/args.h"
#include "platform/text.h"

namespace qs::plat {

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
  int n = 0;
  LPWSTR* w = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!w) return {argv, argv + argc};
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(WideToUtf8(reinterpret_cast<const char16_t*>(w[i])));
  LocalFree(w);
  return out;
}

}  // namespace qs::plat
