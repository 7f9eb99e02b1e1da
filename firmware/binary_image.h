// A firmware image in memory: an ordered list of chunks, each a run of
// consecutive bytes at a 32-bit start address. Gaps are never filled.
#pragma once
#include <cstdint>

#include "runtime/rc.h"

namespace qs::fw {

struct IBinaryImageChunk : IRefCounted {
  virtual uint32_t GetStartAddress() = 0;
  // Address of the last byte (inclusive): start + size - 1.
  virtual uint32_t GetEndAddress() = 0;
  // First data byte; valid while the chunk lives.
  virtual const uint8_t* GetData() = 0;
  virtual ~IBinaryImageChunk() = default;
};

struct IBinaryImage : IRefCounted {
  virtual int32_t GetChunkCount() = 0;
  // Stores a new counted reference in *out; index must lie below the count.
  virtual bool GetChunk(int32_t index, IBinaryImageChunk** out) = 0;
  virtual ~IBinaryImage() = default;
};

// Bytes of a chunk, from its inclusive end address (never 0: readers make no
// empty chunk).
inline uint64_t ChunkSize(IBinaryImageChunk* c) {
  return static_cast<uint64_t>(c->GetEndAddress()) - c->GetStartAddress() + 1;
}

}  // namespace qs::fw
