#include <unistd.h>

#include <cstdio>

#include "cli/support_csv.h"
#include "cli/support_spinner.h"

namespace qs::cli {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteStdoutBytes(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

}  // namespace qs::cli
