#include "platform/args.h"

namespace qs::plat {

std::vector<std::string> CommandLineUtf8(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace qs::plat
