// Collects the data records of a file and turns them into chunk spans.
//
// A record joins the run of records before it when it continues that run
// (its address is the run's end + 1) or leads into it (it ends where the run
// starts, as in a file written backwards); otherwise it starts a new run. At
// the end the runs are ordered by start address (file order among equal
// starts, a strict order even when records overlap) and runs that touch are
// joined; a gap or an overlap starts a new chunk.
//
// The bytes are kept in file order. When that is chunk order too (an ordered
// file, or blocks merely written out of address order that touch no other
// block) every chunk is a slice of them as they are. Otherwise the bytes are
// dropped, each run gets its place in chunk order, and the reader reads the
// text a second time: the same records, now copied straight to their place.
// The image's bytes are therefore never held twice, whatever the order.
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
  ImageBuilder(const ImageBuilder&) = delete;
  ImageBuilder& operator=(const ImageBuilder&) = delete;

  // One data record, in file order. Records without data name no byte and
  // are dropped. First reading: false when the record runs past address
  // 0xFFFFFFFF or the image would exceed the limit. Second reading: false
  // when the record is not where the first reading found it.
  bool Add(uint32_t address, const uint8_t* data, uint32_t len);

  enum class Next { Done, ReadAgain, Refused };
  // After the termination record of the first reading: orders the runs and
  // checks the chunks against the limit. ReadAgain: the bytes had to be
  // dropped, and the same text must be read once more into Add.
  Next Settle();

  // The shared bytes and the chunk spans in chunk order; false when memory ran
  // out or a second reading did not give back every run.
  bool Finish(Ref<IImageBytes>& bytes, std::vector<ChunkSpan>& spans);

 private:
  struct Run {
    uint32_t start;
    uint32_t offset;  // first reading: in file order; second: in chunk order
    uint32_t size;
  };
  // A run costs its entry (twice, for the vector's growth) and its index in
  // the ordering; each chunk its span, its object and the image's reference.
  static constexpr size_t kRunCost = 2 * sizeof(Run) + sizeof(uint32_t);
  static constexpr size_t kChunkCost = sizeof(ChunkSpan) + 64;

  bool Collect(uint32_t address, const uint8_t* data, uint32_t len);
  bool Place(uint32_t address, const uint8_t* data, uint32_t len);
  static bool Touch(const Run& a, const Run& b) { return static_cast<uint64_t>(a.start) + a.size == b.start; }
  // Second reading: the run met last has been given all its bytes.
  bool Complete() const;

  size_t limit_;
  std::vector<uint8_t> data_;
  std::vector<Run> runs_;     // file order
  std::vector<uint32_t> order_;  // indices into runs_, chunk order
  uint64_t cost_ = 0;
  size_t chunks_ = 0;  // known once settled
  bool backwards_ = false;  // a run's bytes lie in the file other than in address order
  bool placing_ = false;
  // Second reading: runs met so far, and what the records met of the last
  // one have covered so far, [lo_, hi_).
  size_t opened_ = 0;
  uint64_t lo_ = 0, hi_ = 0;
};

}  // namespace qs::fw
