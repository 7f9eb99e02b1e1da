#include <unistd.h>

#include "cli/support_spinner.h"

namespace qs::cli {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace qs::cli
