#include "firmware/image_builder.h"

#include <algorithm>
#include <new>

namespace qs::fw {

ImageBuilder::ImageBuilder(long long sizeHint, size_t limit) : limit_(limit) {
  // Two digits per data byte at least.
  if (sizeHint > 0) {
    unsigned long long want = static_cast<unsigned long long>(sizeHint) / 2;
    if (want > limit_) want = limit_;
    try {
      data_.reserve(static_cast<size_t>(want));
    } catch (const std::bad_alloc&) {
      // Grow as needed instead.
    }
  }
}

bool ImageBuilder::Add(uint32_t address, const uint8_t* data, uint32_t len) {
  if (len == 0) return true;
  if (static_cast<uint64_t>(address) + len - 1 > 0xFFFFFFFFull) return false;
  if (Cost() + len + kRunCost > limit_) return false;
  try {
    uint32_t offset = static_cast<uint32_t>(data_.size());
    data_.insert(data_.end(), data, data + len);
    if (!runs_.empty()) {
      Run& last = runs_.back();
      if (static_cast<uint64_t>(last.start) + last.size == address) {
        last.size += len;
        return true;
      }
    }
    runs_.push_back(Run{address, offset, len});
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ImageBuilder::Finish(Ref<IImageBytes>& bytes, std::vector<ChunkSpan>& spans) {
  spans.clear();
  try {
    bool ordered = true;
    for (size_t i = 1; i < runs_.size() && ordered; ++i) ordered = runs_[i - 1].start < runs_[i].start;
    if (!ordered) std::stable_sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) { return a.start < b.start; });
    // Blocks merely written in another order (sections out of address order)
    // are slices already; only runs that touch but lie apart in the bytes
    // need the bytes laid out again, in chunk order, at the cost of a copy.
    bool slices = true;
    for (size_t i = 1; i < runs_.size() && slices && !ordered; ++i) {
      const Run& a = runs_[i - 1];
      const Run& b = runs_[i];
      if (static_cast<uint64_t>(a.start) + a.size == b.start) slices = a.offset + a.size == b.offset;
    }
    if (!slices) {
      std::vector<uint8_t> sorted;
      sorted.reserve(data_.size());
      for (Run& r : runs_) {
        uint32_t at = static_cast<uint32_t>(sorted.size());
        sorted.insert(sorted.end(), data_.begin() + r.offset, data_.begin() + r.offset + r.size);
        r.offset = at;
      }
      data_.swap(sorted);
    }
    for (const Run& r : runs_) {
      if (!spans.empty()) {
        ChunkSpan& cur = spans.back();
        if (static_cast<uint64_t>(cur.start) + cur.size == r.start && cur.offset + cur.size == r.offset) {
          cur.size += r.size;
          continue;
        }
      }
      spans.push_back(ChunkSpan{r.start, r.offset, r.size});
    }
    runs_.clear();
    runs_.shrink_to_fit();
    bytes = Ref<IImageBytes>::Adopt(CreateObject<RCObject2<ImageBytes>>(std::move(data_)));
  } catch (const std::bad_alloc&) {
    spans.clear();
    return false;
  }
  return true;
}

}  // namespace qs::fw
