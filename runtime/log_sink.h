// The seam through which jobs tell what they do: what they sent, what they
// saw (and skipped), and which attempt of how many they are at. One sink
// serves a device log file and a console's verbose output alike. A job holds
// a JobLog; with no sink behind it nothing is formatted, so logging costs a
// test of one pointer when nobody listens.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/lock.h"
#include "runtime/rc.h"

namespace qs {

enum class LogKind : uint8_t {
  Sent,      // a datagram or request went out
  Received,  // an answer that counts
  Skipped,   // something that came but was not what the job waits for
  Attempt,   // a new try begins
  Outcome,   // how the job (or a step of it) ended
  Note,      // anything else worth saying
};

const char* LogKindName(LogKind k);

struct LogEvent {
  LogKind kind;
  const char* job;    // which job ("scan", "set-config", "reboot", ...)
  const char* text;   // valid during the call only
  uint32_t attempt;   // 1-based try this event belongs to; 0: not counted
  uint32_t attempts;  // the most tries the job makes; 0: open-ended
};

struct ILogSink : IRefCounted {
  // Called from any thread, possibly from several at once; must not call back
  // into the job.
  virtual void OnLogEvent(const LogEvent& e) = 0;
};

// A host-order IPv4 address as the four arguments of "%u.%u.%u.%u", so that
// a job formats nothing itself when nobody listens.
#define QS_LOG_IP(a)                                                                                      \
  static_cast<unsigned>(((a) >> 24) & 255u), static_cast<unsigned>(((a) >> 16) & 255u),                 \
      static_cast<unsigned>(((a) >> 8) & 255u), static_cast<unsigned>((a) & 255u)

// A job's handle on a sink (held by one job thread).
class JobLog {
 public:
  JobLog() = default;
  JobLog(ILogSink* sink, const char* job) : sink_(sink), job_(job) {}
  bool on() const { return static_cast<bool>(sink_); }
  // Events from now on belong to this attempt.
  void SetAttempt(uint32_t attempt, uint32_t attempts) {
    attempt_ = attempt;
    attempts_ = attempts;
  }
  void operator()(LogKind kind, const char* format, ...)
#if defined(__MINGW32__)
      __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)))  // the C99 printf that libstdc++ selects there
#elif defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;

 private:
  Ref<ILogSink> sink_;
  const char* job_ = "";
  uint32_t attempt_ = 0;
  uint32_t attempts_ = 0;
};

// Keeps every event in memory, in order (tests; a console front end).
class MemoryLogSink : public ILogSink {
 public:
  struct Entry {
    LogKind kind;
    std::string job;
    std::string text;
    uint32_t attempt;
    uint32_t attempts;
  };
  void OnLogEvent(const LogEvent& e) override;
  std::vector<Entry> entries();
  // "job kind [n/m] text", one per line.
  static std::string Format(const Entry& e);

 private:
  plat::RecursiveLock lock_;
  std::vector<Entry> entries_;
};

}  // namespace qs
