// What a command shows while it scans: on a terminal, "quillscan-cli <command>:
// scanning" with a turning bar on stderr, wiped when the scan ends; nothing
// when stderr is not a terminal (a pipe, a file, a test).
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace qs::cli {

bool StderrIsTerminal();

class Spinner {
 public:
  Spinner(const char* command, const char* what);
  ~Spinner() { Stop(); }
  Spinner(const Spinner&) = delete;
  Spinner& operator=(const Spinner&) = delete;

  // Wipes the line; output may follow. Safe to call twice.
  void Stop();

 private:
  void Turn();

  std::string text_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace qs::cli
