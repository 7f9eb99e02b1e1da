#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/support_csv.h"
#include "cli/support_spinner.h"

namespace qs::cli {

// A console, not a pipe or a file: GetConsoleMode succeeds only on a console.
bool StderrIsTerminal() {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// Text mode would turn the CR LF the bytes carry into CR CR LF.
void WriteStdoutBytes(const std::string& bytes) {
  std::fflush(stdout);
  const int previous = _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
  if (previous != -1) _setmode(_fileno(stdout), previous);
}

}  // namespace qs::cli
