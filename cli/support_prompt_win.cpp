#include <windows.h>

#include "cli/support_prompt.h"

namespace qs::cli {

// A console, not a pipe, a file or NUL: GetConsoleMode succeeds only on a console.
bool StdinIsTerminal() {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

}  // namespace qs::cli
