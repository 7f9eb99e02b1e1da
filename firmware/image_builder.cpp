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
  const Run rec{address, 0, len};
  bool continues = !runs_.empty() && Touch(runs_.back(), rec);
  bool leads = !runs_.empty() && !continues && Touch(rec, runs_.back());
  uint64_t more = len + (continues || leads ? 0 : kRunCost);
  if (cost_ + more > limit_) return false;
  try {
    uint32_t offset = static_cast<uint32_t>(data_.size());
    data_.insert(data_.end(), data, data + len);
    if (continues || leads) {
      Run& last = runs_.back();
      if (leads) last.start = address;
      last.size += len;
      backwards_ = backwards_ || leads;
    } else {
      runs_.push_back(Run{address, offset, len});
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  cost_ += more;
  return true;
}

bool ImageBuilder::Complete() const {
  const Run& r = runs_[opened_ - 1];
  return lo_ == r.start && hi_ == static_cast<uint64_t>(r.start) + r.size;
}

// The runs are formed again by the rule of the first reading, and each must
// come out as it did then: a text that changed in between fails. Within its
// run a record goes to its address's place, and runs grow only at their
// ends, so no byte is written twice and a complete run has all of its bytes.
bool ImageBuilder::Place(uint32_t address, const uint8_t* data, uint32_t len) {
  const uint64_t from = address, to = from + len;
  bool joins = opened_ > 0 && (from == hi_ || to == lo_);
  if (!joins) {
    if (opened_ > 0 && !Complete()) return false;
    if (opened_ == runs_.size()) return false;
    ++opened_;
    lo_ = hi_ = from;
  }
  const Run& r = runs_[opened_ - 1];
  if (from < r.start || to > static_cast<uint64_t>(r.start) + r.size) return false;
  std::memcpy(data_.data() + r.offset + (from - r.start), data, len);
  if (from == hi_)
    hi_ = to;
  else
    lo_ = from;
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
    if (slices && !backwards_) return Next::Done;
    // Touching runs lie apart in the bytes, or a run's bytes are out of order:
    // give every run its place in chunk order and take the bytes again from a
    // second reading.
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
  if (placing_ && (opened_ != runs_.size() || (opened_ > 0 && !Complete()))) return false;
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
