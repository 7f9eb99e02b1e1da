#include "firmware/image_base.h"

namespace qs::fw {

bool ImageBase::GetChunk(int32_t index, IBinaryImageChunk** out) {
  if (!out) return false;
  *out = nullptr;
  // The contract says callers stay below the count; a wrong index still gets
  // a plain refusal rather than a stray read.
  if (index < 0 || static_cast<size_t>(index) >= chunks_.size()) return false;
  *out = chunks_[static_cast<size_t>(index)].get();
  (*out)->AddRef();
  return true;
}

}  // namespace qs::fw
