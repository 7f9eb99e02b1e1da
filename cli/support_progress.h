// What a command shows on stderr while firmware work runs: on a terminal one
// line that is redrawn ("quillscan-cli update: writing [#####     ] 50%"),
// otherwise plain lines, few enough for a log: each new phase, every 10 s of
// a countdown, every 10 % of a write.
#pragma once
#include <cstdint>
#include <string>

namespace qs::cli {

class ProgressLine {
 public:
  explicit ProgressLine(const char* command);
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Waiting for the device, secondsLeft of the wait (0: the wait begins).
  void Countdown(const std::string& what, uint32_t secondsLeft);
  // A write under way, 0-100 (a new write may start again at 0).
  void Percent(const std::string& what, uint32_t percent);
  // A line of its own (a phase, a unit found), after the bar is wiped.
  void Note(const std::string& text);
  // On a terminal the bar shows text (a summary of work under way);
  // elsewhere nothing: the Notes tell it.
  void Status(const std::string& text);
  // Wipes the bar; output may follow.
  void Clear();

 private:
  void Draw(const std::string& text);

  std::string prefix_;
  bool terminal_;
  bool drawn_ = false;
  size_t width_ = 0;
  std::string lastWhat_;
  int64_t lastShown_ = -1;
};

}  // namespace qs::cli
