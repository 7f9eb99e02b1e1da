#include <unistd.h>

#include "cli/support_prompt.h"

namespace qs::cli {

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

}  // namespace qs::cli
