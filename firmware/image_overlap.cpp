#include "firmware/image_overlap.h"

#include <algorithm>
#include <cstring>
#include <map>
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
  bool overlap = false;
  for (size_t i = 1; i < pieces.size() && !overlap; ++i) overlap = pieces[i].start < pieces[i - 1].end;
  if (!overlap) return false;

  // Covered addresses as disjoint pieces keyed by start. Pieces arrive by
  // start address, so each byte is compared at most once.
  std::map<uint64_t, Piece> covered;
  for (const Piece& p : pieces) {
    uint64_t at = p.start;
    auto it = covered.upper_bound(p.start);
    if (it != covered.begin()) --it;
    std::vector<Piece> gaps;
    for (; it != covered.end() && it->second.start < p.end; ++it) {
      const Piece& q = it->second;
      if (q.end <= at) continue;
      if (q.start > at) gaps.push_back(Piece{at, q.start, p.data + (at - p.start)});
      uint64_t from = std::max(at, q.start), to = std::min(p.end, q.end);
      const uint8_t* a = p.data + (from - p.start);
      const uint8_t* b = q.data + (from - q.start);
      size_t n = static_cast<size_t>(to - from);
      if (std::memcmp(a, b, n) != 0) {
        if (conflictAt) {
          size_t k = 0;
          while (a[k] == b[k]) ++k;
          *conflictAt = static_cast<uint32_t>(from + k);
        }
        return true;
      }
      at = to;
    }
    if (at < p.end) gaps.push_back(Piece{at, p.end, p.data + (at - p.start)});
    for (const Piece& g : gaps) covered.emplace(g.start, g);
  }
  return false;
}

}  // namespace qs::fw
