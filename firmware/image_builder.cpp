#include "firmware/image_builder.h"

#include <algorithm>
#include <cstring>
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
  return placing_ ? Place(address, data, len) : Collect(address, data, len);
}

bool ImageBuilder::Collect(uint32_t address, const uint8_t* data, uint32_t len) {
  if (static_cast<uint64_t>(address) + len - 1 > 0xFFFFFFFFull) return false;
  bool extends = !runs_.empty() && Touch(runs_.back(), Run{address, 0, len});
  uint64_t more = len + (extends ? 0 : kRunCost);
  if (cost_ + more > limit_) return false;
  try {
    uint32_t offset = static_cast<uint32_t>(data_.size());
    data_.insert(data_.end(), data, data + len);
    if (extends)
      runs_.back().size += len;
    else
      runs_.push_back(Run{address, offset, len});
  } catch (const std::bad_alloc&) {
    return false;
  }
  cost_ += more;
  return true;
}

// The runs are formed again by the rule of the first reading, and each must
// come out as it did then: a text that changed in between fails.
bool ImageBuilder::Place(uint32_t address, const uint8_t* data, uint32_t len) {
  bool continues = opened_ > 0 && static_cast<uint64_t>(runs_[opened_ - 1].start) + fill_ == address;
  if (!continues) {
    if (opened_ > 0 && fill_ != runs_[opened_ - 1].size) return false;
    if (opened_ == runs_.size() || runs_[opened_].start != address) return false;
    ++opened_;
    fill_ = 0;
  }
  const Run& r = runs_[opened_ - 1];
  if (len > r.size - fill_) return false;
  std::memcpy(data_.data() + r.offset + fill_, data, len);
  fill_ += len;
  return true;
}

ImageBuilder::Next ImageBuilder::Settle() {
  if (placing_) return Next::Refused;  // settled already
  try {
    order_.resize(runs_.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<uint32_t>(i);
    bool ordered = true;
    for (size_t i = 1; i < runs_.size() && ordered; ++i) ordered = runs_[i - 1].start <= runs_[i].start;
    if (!ordered) {
      std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) {
        return runs_[a].start != runs_[b].start ? runs_[a].start < runs_[b].start : a < b;
      });
    }
    size_t chunks = runs_.empty() ? 0 : 1;
    bool slices = true;
    for (size_t k = 1; k < order_.size(); ++k) {
      const Run& a = runs_[order_[k - 1]];
      const Run& b = runs_[order_[k]];
      if (!Touch(a, b))
        ++chunks;
      else if (a.offset + a.size != b.offset)
        slices = false;
    }
    if (cost_ + static_cast<uint64_t>(chunks) * kChunkCost > limit_) return Next::Refused;
    chunks_ = chunks;
    if (slices) return Next::Done;
    // Touching runs lie apart in the bytes: give every run its place in chunk
    // order and take the bytes again from a second reading.
    size_t total = data_.size();
    std::vector<uint8_t>().swap(data_);
    uint32_t at = 0;
    for (uint32_t i : order_) {
      runs_[i].offset = at;
      at += runs_[i].size;
    }
    data_.resize(total);
  } catch (const std::bad_alloc&) {
    return Next::Refused;
  }
  placing_ = true;
  return Next::ReadAgain;
}

bool ImageBuilder::Finish(Ref<IImageBytes>& bytes, std::vector<ChunkSpan>& spans) {
  spans.clear();
  if (order_.size() != runs_.size()) return false;  // not settled
  if (placing_ && (opened_ != runs_.size() || (opened_ > 0 && fill_ != runs_[opened_ - 1].size))) return false;
  try {
    spans.reserve(chunks_);
    for (uint32_t i : order_) {
      const Run& r = runs_[i];
      if (!spans.empty()) {
        ChunkSpan& cur = spans.back();
        if (static_cast<uint64_t>(cur.start) + cur.size == r.start) {
          if (cur.offset + cur.size != r.offset) return false;  // Settle laid these out together
          cur.size += r.size;
          continue;
        }
      }
      spans.push_back(ChunkSpan{r.start, r.offset, r.size});
    }
    std::vector<Run>().swap(runs_);
    std::vector<uint32_t>().swap(order_);
    bytes = Ref<IImageBytes>::Adopt(CreateObject<RCObject2<ImageBytes>>(std::move(data_)));
  } catch (const std::bad_alloc&) {
    spans.clear();
    return false;
  }
  return true;
}

}  // namespace qs::fw
