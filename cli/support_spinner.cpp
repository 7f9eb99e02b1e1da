#include "cli/support_spinner.h"

#include <chrono>
#include <cstdio>

namespace qs::cli {

Spinner::Spinner(const char* command, const char* what) {
  if (!StderrIsTerminal()) return;
  text_ = std::string("quillscan-cli ") + command + ": " + what + " ";
  std::fflush(stdout);
  thread_ = std::thread([this] { Turn(); });
}

void Spinner::Turn() {
  static const char kBar[] = "|/-\\";
  std::unique_lock<std::mutex> l(lock_);
  for (unsigned i = 0; !stop_; ++i) {
    std::fprintf(stderr, "\r%s%c", text_.c_str(), kBar[i % 4]);
    std::fflush(stderr);
    wake_.wait_for(l, std::chrono::milliseconds(125), [this] { return stop_; });
  }
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(text_.size() + 1), "");
  std::fflush(stderr);
}

void Spinner::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> l(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

}  // namespace qs::cli
