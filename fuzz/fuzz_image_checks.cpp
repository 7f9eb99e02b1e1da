#include "fuzz/fuzz_image_checks.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "firmware/firmware_info.h"
#include "firmware/image_overlap.h"

namespace qs::fw::fuzz {

void CheckImage(IBinaryImage* image, size_t limit) {
  int32_t n = image->GetChunkCount();
  if (n < 0) std::abort();
  uint64_t total = 0, prevStart = 0, prevEnd = 0;
  volatile uint8_t sink = 0;
  for (int32_t i = 0; i < n; ++i) {
    IBinaryImageChunk* c = nullptr;
    if (!image->GetChunk(i, &c) || !c) std::abort();
    uint64_t start = c->GetStartAddress(), end = c->GetEndAddress();
    if (end < start) std::abort();
    if (i > 0 && (start < prevStart || start == prevEnd + 1)) std::abort();
    const uint8_t* d = c->GetData();
    sink = sink ^ d[0] ^ d[end - start];  // first and last byte readable
    total += end - start + 1;
    prevStart = start;
    prevEnd = end;
    c->Release();
  }
  IBinaryImageChunk* none = nullptr;
  if (image->GetChunk(n, &none) || none) std::abort();
  if (total > limit) std::abort();
  // The overlap check against every address compared: (address, byte) of
  // every chunk byte, sorted, two different bytes at one address a conflict.
  std::vector<std::pair<uint32_t, uint8_t>> bytes;
  bytes.reserve(static_cast<size_t>(total));
  for (int32_t i = 0; i < n; ++i) {
    IBinaryImageChunk* c = nullptr;
    image->GetChunk(i, &c);
    for (uint64_t k = 0; k < ChunkSize(c); ++k)
      bytes.emplace_back(static_cast<uint32_t>(c->GetStartAddress() + k), c->GetData()[k]);
    c->Release();
  }
  std::sort(bytes.begin(), bytes.end());
  bool conflict = false;
  for (size_t i = 1; i < bytes.size() && !conflict; ++i)
    conflict = bytes[i].first == bytes[i - 1].first && bytes[i].second != bytes[i - 1].second;
  uint32_t at = 0;
  if (HasConflictingOverlap(image, &at) != conflict) std::abort();
  if (conflict) {
    // The named address must hold two different bytes.
    auto lo = std::lower_bound(bytes.begin(), bytes.end(), std::make_pair(at, uint8_t{0}));
    auto hi = std::upper_bound(bytes.begin(), bytes.end(), std::make_pair(at, uint8_t{0xFF}));
    if (lo == hi || lo->second == (hi - 1)->second) std::abort();
  }
  FirmwareInfo info;
  ReadFirmwareInfo(image, info);
}

}  // namespace qs::fw::fuzz
