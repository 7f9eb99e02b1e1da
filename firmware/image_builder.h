// Collects the data records of a file and turns them into chunk spans.
//
// Records that continue the previous one (address = previous end + 1) are
// appended to its run at once, so an ordered file needs no sorting and no
// second copy. At the end the runs are ordered by start address (file order
// among equal starts, a strict order even when records overlap), and runs that
// touch are joined; a gap or an overlap starts a new chunk. Only a file whose
// touching records come out of order costs a second copy, during Finish.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "firmware/image_bytes.h"

namespace qs::fw {

// Most memory one image may take (data plus bookkeeping): a bound on hostile
// or mistaken input that still leaves a 32-bit process room to work.
constexpr size_t kMaxImageBytes = 64u << 20;

struct ChunkSpan {
  uint32_t start;   // address of the first byte
  uint32_t offset;  // in the shared bytes
  uint32_t size;    // never 0
};

class ImageBuilder {
 public:
  // sizeHint: size of the text (or -1); it bounds the data, so the buffer is
  // reserved once instead of growing by copies.
  ImageBuilder(long long sizeHint, size_t limit);

  // false when the record runs past address 0xFFFFFFFF or the image would
  // exceed the limit. Records without data name no byte and are dropped.
  bool Add(uint32_t address, const uint8_t* data, uint32_t len);

  // The shared bytes and the chunk spans in chunk order; false when memory ran out.
  bool Finish(Ref<IImageBytes>& bytes, std::vector<ChunkSpan>& spans);

 private:
  struct Run {
    uint32_t start;
    uint32_t offset;
    uint32_t size;
  };
  // A run may become a chunk of its own: count its span, the chunk object and
  // the image's reference to it too, so that many tiny records stay bounded.
  static constexpr size_t kRunCost = sizeof(Run) + sizeof(ChunkSpan) + 64;
  size_t Cost() const { return data_.size() + runs_.size() * kRunCost; }

  size_t limit_;
  std::vector<uint8_t> data_;
  std::vector<Run> runs_;
};

}  // namespace qs::fw
