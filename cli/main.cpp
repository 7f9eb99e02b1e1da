// quillscan-cli: the console front end over the same engine as the program.
#include <algorithm>
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

// Finding devices first, then what is done to one, its firmware and product
// data, then the firmware file.
const char* const kOrder[] = {"discover", "wink",   "set-ip",       "reboot", "opmode",
                               "update",   "recover", "product-data", "image"};

size_t Rank(const Command& c) {
  size_t n = sizeof kOrder / sizeof kOrder[0];
  for (size_t i = 0; i < n; ++i)
    if (std::strcmp(c.name, kOrder[i]) == 0) return i;
  return n;
}

void Usage(FILE* f) {
  std::fprintf(f, "usage: quillscan-cli <command> [arguments]\n\ncommands:\n");
  for (const Command& c : Commands()) std::fprintf(f, "  quillscan-cli %s\n", c.synopsis);
  std::fprintf(f,
               "\nA device is named by its MAC (00-11-22-33-44-55 or 00:11:22:33:44:55) or by its\n"
               "IPv4 address. 'quillscan-cli <command> --help' tells more about one command.\n");
}
}  // namespace

bool RegisterCommand(const Command& c) {
  Registry().push_back(c);
  return true;
}

std::vector<Command> Commands() {
  std::vector<Command> r = Registry();
  std::stable_sort(r.begin(), r.end(), [](const Command& a, const Command& b) {
    size_t ra = Rank(a), rb = Rank(b);
    return ra != rb ? ra < rb : std::strcmp(a.name, b.name) < 0;
  });
  return r;
}

void Error(const char* command, const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "quillscan-cli %s: %s\n", command, text.c_str());
}

int UsageError(const char* command, const std::string& text) {
  Error(command, text);
  for (const Command& c : Registry())
    if (std::strcmp(c.name, command) == 0) std::fprintf(stderr, "usage: quillscan-cli %s\n", c.synopsis);
  return kExitUsage;
}

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
