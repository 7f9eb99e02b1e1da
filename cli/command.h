// Commands of the console front end. Each command lives in its own cmd_*.cpp
// and registers itself; main() only dispatches.
#pragma once
#include <string>
#include <vector>

namespace qs::cli {

// Exit status of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the operation failed; why goes to stderr
constexpr int kExitUsage = 2;

using CommandFn = int (*)(const std::vector<std::string>& args);  // args after the command name

struct Command {
  const char* name;
  const char* synopsis;  // one usage line, without the program name
  const char* help;      // what it does, a few lines
  CommandFn run;
};

// Called by the static registrars of the cmd_*.cpp files.
bool RegisterCommand(const Command& c);
// In the order a technician meets them (discover first), whatever the order
// the registrars ran in.
std::vector<Command> Commands();

// "quillscan-cli <command>: <text>" and a line end on stderr.
void Error(const char* command, const std::string& text);
// The error, then "usage: quillscan-cli <synopsis>"; returns kExitUsage.
int UsageError(const char* command, const std::string& text);

}  // namespace qs::cli

#define QS_CLI_COMMAND(var, ...) \
  static const bool var = ::qs::cli::RegisterCommand(::qs::cli::Command{__VA_ARGS__})
