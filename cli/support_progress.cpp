#include "cli/support_progress.h"

#include <cstdio>

#include "app/logic/progress.h"
#include "cli/support_spinner.h"

namespace qs::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr uint32_t kCountdownStepS = 10;
constexpr uint32_t kPercentStep = 10;
}  // namespace

ProgressLine::ProgressLine(const char* command)
    : prefix_(std::string("quillscan-cli ") + command + ": "), terminal_(StderrIsTerminal()) {}

void ProgressLine::Draw(const std::string& text) {
  std::fflush(stdout);
  if (terminal_) {
    std::string line = prefix_ + text;
    size_t pad = width_ > line.size() ? width_ - line.size() : 0;
    std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
    width_ = line.size();
    drawn_ = true;
  } else {
    std::fprintf(stderr, "%s%s\n", prefix_.c_str(), text.c_str());
  }
  std::fflush(stderr);
}

void ProgressLine::Countdown(const std::string& what, uint32_t left) {
  bool newPhase = what != lastWhat_;
  if (!terminal_ && !newPhase && (left % kCountdownStepS != 0 || static_cast<int64_t>(left) == lastShown_)) return;
  lastWhat_ = what;
  lastShown_ = left;
  Draw(left == 0 ? what : what + ", " + std::to_string(left) + " s left");
}

void ProgressLine::Percent(const std::string& what, uint32_t percent) {
  if (percent > 100) percent = 100;
  bool newPhase = what != lastWhat_;
  // A write that starts again (the next part of the image) shows from 0.
  bool restarted = lastShown_ >= 0 && static_cast<int64_t>(percent) < lastShown_;
  uint32_t step = percent / kPercentStep * kPercentStep;
  if (!terminal_ && !newPhase && !restarted && static_cast<int64_t>(step) <= lastShown_) return;
  lastWhat_ = what;
  lastShown_ = terminal_ ? percent : step;
  if (!terminal_) {
    Draw(what + " " + std::to_string(step) + "%");
    return;
  }
  int filled = app::FilledWidth(kBarWidth, 0, 100, percent);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), ' ');
  Draw(what + " [" + bar + "] " + std::to_string(percent) + "%");
}

void ProgressLine::Note(const std::string& text) {
  Clear();
  std::fflush(stdout);
  std::fprintf(stderr, "%s%s\n", prefix_.c_str(), text.c_str());
  std::fflush(stderr);
  lastWhat_.clear();
  lastShown_ = -1;
}

void ProgressLine::Status(const std::string& text) {
  if (terminal_) Draw(text);
}

void ProgressLine::Clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(stderr);
  drawn_ = false;
  width_ = 0;
}

}  // namespace qs::cli
