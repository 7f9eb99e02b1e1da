// quillscan-cli: the console front end over the same engine as the program.
#include <cstdio>
#include <cstring>

#include "cli/command.h"
#include "platform/args.h"

namespace qs::cli {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> r;
  return r;
}

void Usage(FILE* f) {
  std::fprintf(f, "usage: quillscan-cli <command> [arguments]\n\ncommands:\n");
  for (const Command& c : Commands()) std::fprintf(f, "  quillscan-cli %s\n", c.synopsis);
  std::fprintf(f, "\n'quillscan-cli <command> --help' tells more about one command.\n");
}
}  // namespace

bool RegisterCommand(const Command& c) {
  Registry().push_back(c);
  return true;
}

const std::vector<Command>& Commands() { return Registry(); }

}  // namespace qs::cli

int main(int argc, char** argv) {
  using namespace qs::cli;
  std::vector<std::string> args = qs::plat::CommandLineUtf8(argc, argv);
  if (args.size() < 2) {
    Usage(stderr);
    return kExitUsage;
  }
  const std::string& name = args[1];
  if (name == "--help" || name == "-h" || name == "help") {
    Usage(stdout);
    return kExitOk;
  }
  for (const Command& c : Commands()) {
    if (name != c.name) continue;
    std::vector<std::string> rest(args.begin() + 2, args.end());
    for (const std::string& a : rest) {
      if (a == "--help" || a == "-h") {
        std::printf("usage: quillscan-cli %s\n\n%s\n", c.synopsis, c.help);
        return kExitOk;
      }
    }
    return c.run(rest);
  }
  std::fprintf(stderr, "quillscan-cli: unknown command '%s'\n", name.c_str());
  Usage(stderr);
  return kExitUsage;
}
