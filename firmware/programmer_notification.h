// What a firmware job tells about itself: the record that travels from the
// job's thread to the host thread, and its kinds.
#pragma once
#include <atomic>
#include <cstdint>

namespace qs::fw {

constexpr int32_t kKindPreparing = 1;    // value: seconds left of the wait for the device (0 at the start)
constexpr int32_t kKindProgramming = 3;  // value: percent of the chunk being written
constexpr int32_t kKindEnded = 4;        // result: the job's final status

struct ProgrammerNotification {
  uint32_t job = 0;  // the reporting job's number (unique in the process)
  int32_t kind = 0;
  int32_t value = 0;
  int32_t result = 0;
};

// A fresh job number: never 0, never repeated within the process.
inline uint32_t NewJobNumber() {
  static std::atomic<uint32_t> counter{0};
  uint32_t n;
  do n = counter.fetch_add(1) + 1;
  while (n == 0);
  return n;
}

}  // namespace qs::fw
