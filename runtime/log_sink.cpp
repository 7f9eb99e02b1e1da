#include "runtime/log_sink.h"

#include <cstdio>

namespace qs {

const char* LogKindName(LogKind k) {
  switch (k) {
    case LogKind::Sent: return "sent";
    case LogKind::Received: return "received";
    case LogKind::Skipped: return "skipped";
    case LogKind::Attempt: return "attempt";
    case LogKind::Outcome: return "outcome";
    case LogKind::Note: return "note";
  }
  return "?";
}

void JobLog::operator()(LogKind kind, const char* format, ...) {
  if (!sink_) return;
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  sink_->OnLogEvent(LogEvent{kind, job_, text, attempt_, attempts_});
}

void MemoryLogSink::OnLogEvent(const LogEvent& e) {
  plat::ScopedLock l(lock_);
  entries_.push_back(Entry{e.kind, e.job ? e.job : "", e.text ? e.text : "", e.attempt, e.attempts});
}

std::vector<MemoryLogSink::Entry> MemoryLogSink::entries() {
  plat::ScopedLock l(lock_);
  return entries_;
}

std::string MemoryLogSink::Format(const Entry& e) {
  std::string s = e.job + " " + LogKindName(e.kind);
  if (e.attempt) {
    s += " [" + std::to_string(e.attempt);
    if (e.attempts) s += "/" + std::to_string(e.attempts);
    s += "]";
  }
  return s + " " + e.text;
}

}  // namespace qs
