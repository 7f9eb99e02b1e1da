// quillscan-cli update --all: the batch form of the update command.
#pragma once
#include <string>
#include <vector>

namespace qs::cli {

// args: the update command's arguments, "--all" among them.
int RunUpdateAll(const std::vector<std::string>& args);

}  // namespace qs::cli
