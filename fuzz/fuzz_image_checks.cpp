#include "fuzz/fuzz_image_checks.h"

#include <cstdint>
#include <cstdlib>

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
  uint32_t at = 0;
  HasConflictingOverlap(image, &at);
  FirmwareInfo info;
  ReadFirmwareInfo(image, info);
}

}  // namespace qs::fw::fuzz
