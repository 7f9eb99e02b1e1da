#include "app/logic/cmdline.h"

namespace qs::app {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

void TextScanner::SkipBlanks() {
  while (cur_ != end_ && IsBlank(*cur_)) ++cur_;
}

bool TextScanner::MatchKeyword(std::string_view keyword) {
  const char* save = cur_;
  SkipBlanks();
  if (static_cast<size_t>(end_ - cur_) >= keyword.size() && std::string_view(cur_, keyword.size()) == keyword) {
    cur_ += keyword.size();
    return true;
  }
  cur_ = save;
  return false;
}

bool TextScanner::MatchChar(char c) {
  if (cur_ != end_ && *cur_ == c) {
    ++cur_;
    return true;
  }
  return false;
}

bool TextScanner::ReadFileName(std::string& out) {
  const char* save = cur_;
  SkipBlanks();
  if (cur_ != end_ && *cur_ == '"') {
    const char* p = cur_ + 1;
    while (p != end_ && *p != '"') ++p;
    if (p != end_) {
      out.assign(cur_ + 1, p);
      cur_ = p + 1;
      return true;
    }
  }
  // Not a complete quoted token: read it bare from the same place.
  const char* p = cur_;
  while (p != end_ && !IsBlank(*p) && *p != '\0') ++p;
  if (p == cur_) {
    cur_ = save;
    return false;
  }
  out.assign(cur_, p);
  cur_ = p;
  return true;
}

bool TextScanner::ReadNumber(uint32_t& out, uint32_t max) {
  const char* p = cur_;
  uint64_t v = 0;
  while (p != end_ && IsDigit(*p)) {
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > max) return false;
    ++p;
  }
  if (p == cur_) return false;
  out = static_cast<uint32_t>(v);
  cur_ = p;
  return true;
}

size_t TextScanner::SkipDigits() {
  const char* p = cur_;
  while (cur_ != end_ && IsDigit(*cur_)) ++cur_;
  return static_cast<size_t>(cur_ - p);
}

std::string_view TextScanner::ReadField(char separator) {
  const char* p = cur_;
  while (p != end_ && *p != separator) ++p;
  std::string_view field(cur_, static_cast<size_t>(p - cur_));
  cur_ = (p == end_) ? p : p + 1;
  return field;
}

bool ParseCommandLine(std::string_view ansi, CommandLine& out) {
  out = CommandLine{};
  TextScanner s(ansi);
  for (;;) {
    s.SkipBlanks();
    if (s.AtEnd()) return true;
    if (s.MatchKeyword("-xp") || s.MatchKeyword("/xp")) {
      out.discoveryMode = false;
    } else if (s.MatchKeyword("-version") || s.MatchKeyword("/version")) {
      out.stop = true;
      if (s.ReadFileName(out.file)) out.answer = AnswerKind::Version;
      return true;
    } else if (s.MatchKeyword("-string") || s.MatchKeyword("/string")) {
      out.stop = true;
      uint32_t id = 0;
      // String ids are 16-bit; a larger number names no string at all.
      if (!s.ReadNumber(id, 0xFFFF)) {
        if (s.SkipDigits() == 0) return true;
        out.stringIdInRange = false;
      }
      if (s.ReadFileName(out.file)) {
        out.answer = AnswerKind::String;
        out.stringId = out.stringIdInRange ? id : 0;
      }
      return true;
    } else if (s.MatchKeyword("-kill") || s.MatchKeyword("/kill")) {
      out.kill = true;
    } else {
      return false;
    }
  }
}

}  // namespace qs::app
