#include "firmware/image_overlap.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qs::fw {

namespace {
struct Piece {
  uint64_t start;
  uint64_t end;  // exclusive
  const uint8_t* data;
};
}  // namespace

bool HasConflictingOverlap(IBinaryImage* image, uint32_t* conflictAt) {
  std::vector<Ref<IBinaryImageChunk>> chunks;
  int32_t count = image->GetChunkCount();
  chunks.reserve(static_cast<size_t>(count > 0 ? count : 0));
  for (int32_t i = 0; i < count; ++i) {
    IBinaryImageChunk* c = nullptr;
    if (image->GetChunk(i, &c) && c) chunks.push_back(Ref<IBinaryImageChunk>::Adopt(c));
  }
  std::vector<Piece> pieces;
  pieces.reserve(chunks.size());
  for (auto& c : chunks) {
    uint64_t s = c->GetStartAddress();
    pieces.push_back(Piece{s, s + ChunkSize(c.get()), c->GetData()});
  }
  std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.start < b.start; });

  // Every earlier piece starts at or below p's start, so what they cover of p
  // runs from p's start to the furthest end reached so far, and the piece that
  // reaches it covers all of that. The earlier pieces agree where they meet
  // (or the sweep has stopped), so comparing p with that one piece compares
  // it with all of them; each byte is compared at most once.
  const Piece* reach = nullptr;
  for (const Piece& p : pieces) {
    if (reach && reach->end > p.start) {
      uint64_t to = std::min(p.end, reach->end);
      const uint8_t* a = p.data;
      const uint8_t* b = reach->data + (p.start - reach->start);
      size_t n = static_cast<size_t>(to - p.start);
      if (std::memcmp(a, b, n) != 0) {
        if (conflictAt) {
          size_t k = 0;
          while (a[k] == b[k]) ++k;
          *conflictAt = static_cast<uint32_t>(p.start + k);
        }
        return true;
      }
    }
    if (!reach || p.end > reach->end) reach = &p;
  }
  return false;
}

}  // namespace qs::fw
