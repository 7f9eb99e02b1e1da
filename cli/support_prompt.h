// Asking the technician before something that cannot be undone.
#pragma once
#include <string>

namespace qs::cli {

bool StdinIsTerminal();

// Writes the question and " [y/N] " on stderr and reads one line from stdin
// (at most 64 characters are looked at): true only for "y" or "yes".
bool Confirm(const std::string& question);

}  // namespace qs::cli
