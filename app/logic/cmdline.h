// The command line and the small cursor scanner it is read with. Plain code:
// no window types, built and tested on every host.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::app {

// A cursor over a narrow (ANSI) text: begin, current position, end. Every read
// either succeeds and moves the cursor past what it read, or fails and leaves
// the cursor where it was.
class TextScanner {
 public:
  explicit TextScanner(std::string_view text) : begin_(text.data()), cur_(text.data()), end_(text.data() + text.size()) {}

  bool AtEnd() const { return cur_ == end_; }
  size_t Offset() const { return static_cast<size_t>(cur_ - begin_); }
  std::string_view Rest() const { return std::string_view(cur_, static_cast<size_t>(end_ - cur_)); }

  void SkipBlanks();  // spaces and tabs
  // After blanks, the input begins with the keyword; nothing is required after it.
  bool MatchKeyword(std::string_view keyword);
  // One character at the cursor, nothing skipped.
  bool MatchChar(char c);
  // A quoted token ("..." with the closing quote present), else a bare token
  // up to a space, tab or NUL that is not empty. Blanks before either are skipped.
  bool ReadFileName(std::string& out);
  // One or more ASCII digits at the cursor. Values above `max` fail.
  bool ReadNumber(uint32_t& out, uint32_t max = 0xFFFFFFFFu);
  // Moves past ASCII digits; returns how many.
  size_t SkipDigits();
  // Everything up to the separator (or the end); the separator is consumed.
  std::string_view ReadField(char separator);

 private:
  const char* begin_;
  const char* cur_;
  const char* end_;
};

enum class AnswerKind { None, Version, String };

struct CommandLine {
  bool discoveryMode = true;  // cleared by -xp
  bool kill = false;
  // When set, the run ends with -1 after the answer file (if any) is written.
  bool stop = false;
  AnswerKind answer = AnswerKind::None;
  uint32_t stringId = 0;
  bool stringIdInRange = true;  // false: no string can have that id, the file gets empty text
  std::string file;             // answer file, ANSI as typed
};

// Scans the command line (without the program name). Returns false for an
// unrecognised token or a malformed option (exit code -1). After "-version" or
// "-string" the result has stop set; answer is None when nothing is to be written.
bool ParseCommandLine(std::string_view ansi, CommandLine& out);

// What "-version" writes.
constexpr const char* kVersionAnswer = "1,3";

}  // namespace qs::app
