#include "devsim/journal.h"

namespace qs::devsim {

void Journal::Push(std::string line) {
  lines_.push_back(std::move(line));
  while (lines_.size() > kKept) lines_.pop_front();
}

std::vector<std::string> Journal::Lines(const std::string& kind) const {
  std::vector<std::string> out;
  const std::string inner = " kind=" + kind + " ", last = " kind=" + kind;
  for (const auto& l : lines_) {
    bool match = kind.empty() || l.find(inner) != std::string::npos ||
                 (l.size() >= last.size() && l.compare(l.size() - last.size(), std::string::npos, last) == 0);
    if (match) out.push_back(l);
  }
  return out;
}

}  // namespace qs::devsim
