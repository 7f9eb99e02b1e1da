// The bytes of one loaded image, shared by its chunks: each chunk is a slice,
// so an image costs its data once, not once per record and once per chunk.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/rc.h"

namespace qs::fw {

struct IImageBytes : IRefCounted {
  virtual const uint8_t* Bytes() = 0;
  virtual ~IImageBytes() = default;
};

class ImageBytes : public IImageBytes {
 public:
  explicit ImageBytes(std::vector<uint8_t>&& bytes) : bytes_(std::move(bytes)) {}
  const uint8_t* Bytes() override { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace qs::fw
