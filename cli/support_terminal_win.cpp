#include <windows.h>

#include "cli/support_spinner.h"

namespace qs::cli {

// A console, not a pipe or a file: GetConsoleMode succeeds only on a console.
bool StderrIsTerminal() {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

}  // namespace qs::cli
