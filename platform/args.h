// The process's command line as UTF-8 arguments (from the wide command line on Windows).
#pragma once
#include <string>
#include <vector>

namespace qs::plat {

std::vector<std::string> CommandLineUtf8(int argc, char** argv);

}  // namespace qs::plat
