#include "cli/support_prompt.h"

#include <cctype>
#include <cstdio>

namespace qs::cli {

bool Confirm(const std::string& question) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar())
    if (answer.size() < 64 && c != '\r') answer.push_back(static_cast<char>(std::tolower(c)));
  size_t b = answer.find_first_not_of(" \t"), e = answer.find_last_not_of(" \t");
  answer = b == std::string::npos ? "" : answer.substr(b, e - b + 1);
  return answer == "y" || answer == "yes";
}

}  // namespace qs::cli
