// A journal of the simulator: one line per event ("seq=N ..."), the newest
// 50000 kept, printed by the control command of the same name ("log", "sent",
// "winks"; a family may add its own).
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace qs::devsim {

class Journal {
 public:
  static constexpr size_t kKept = 50000;
  explicit Journal(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  uint64_t NextSeq() { return ++seq_; }  // numbers keep counting across Clear
  void Push(std::string line);
  void Clear() { lines_.clear(); }
  size_t size() const { return lines_.size(); }
  // Lines whose kind= field is kind (every line when kind is empty).
  std::vector<std::string> Lines(const std::string& kind) const;

 private:
  std::string name_;
  uint64_t seq_ = 0;
  std::deque<std::string> lines_;
};

}  // namespace qs::devsim
