// A firmware image made in memory, for tests of the programmers.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "firmware/binary_image.h"

namespace qs::test {

class MemoryChunk : public fw::IBinaryImageChunk {
 public:
  MemoryChunk(uint32_t start, std::vector<uint8_t> bytes) : start_(start), bytes_(std::move(bytes)) {}
  uint32_t GetStartAddress() override { return start_; }
  uint32_t GetEndAddress() override { return start_ + static_cast<uint32_t>(bytes_.size()) - 1; }
  const uint8_t* GetData() override { return bytes_.data(); }

 private:
  uint32_t start_;
  std::vector<uint8_t> bytes_;
};

class MemoryImage : public fw::IBinaryImage {
 public:
  // failAt: GetChunk of this index fails (-1: none).
  explicit MemoryImage(std::vector<std::pair<uint32_t, std::vector<uint8_t>>> chunks, int failAt = -1)
      : failAt_(failAt) {
    for (auto& c : chunks) chunks_.emplace_back(new RCObject2<MemoryChunk>(c.first, std::move(c.second)));
  }
  int32_t GetChunkCount() override { return static_cast<int32_t>(chunks_.size()); }
  bool GetChunk(int32_t index, fw::IBinaryImageChunk** out) override {
    if (index < 0 || index >= GetChunkCount() || index == failAt_) return false;
    *out = chunks_[static_cast<size_t>(index)].get();
    (*out)->AddRef();
    return true;
  }

 private:
  std::vector<Ref<fw::IBinaryImageChunk>> chunks_;
  int failAt_;
};

inline Ref<fw::IBinaryImage> MakeImage(std::vector<std::pair<uint32_t, std::vector<uint8_t>>> chunks,
                                       int failAt = -1) {
  return Ref<fw::IBinaryImage>(new RCObject2<MemoryImage>(std::move(chunks), failAt));
}

inline std::vector<uint8_t> Filled(size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

}  // namespace qs::test
