// What both readers' images and chunks have in common: a chunk is a slice of
// the image's shared bytes; an image is its chunk list.
#pragma once
#include <new>
#include <string>
#include <vector>

#include "firmware/binary_image.h"
#include "firmware/image_builder.h"

namespace qs::fw {

class ChunkBase : public IBinaryImageChunk {
 public:
  ChunkBase(IImageBytes* bytes, const ChunkSpan& span) : bytes_(bytes), span_(span) {}
  uint32_t GetStartAddress() override { return span_.start; }
  uint32_t GetEndAddress() override { return span_.start + (span_.size - 1); }
  const uint8_t* GetData() override { return bytes_->Bytes() + span_.offset; }

 private:
  Ref<IImageBytes> bytes_;
  ChunkSpan span_;
};

class ImageBase : public IBinaryImage {
 public:
  explicit ImageBase(const std::u16string& path) : path_(path) {}
  int32_t GetChunkCount() override { return static_cast<int32_t>(chunks_.size()); }
  bool GetChunk(int32_t index, IBinaryImageChunk** out) override;
  const std::u16string& path() const { return path_; }

 protected:
  // Builds the chunk list from the collected records; false when memory ran out.
  template <class Chunk>
  bool TakeChunks(ImageBuilder& builder);

 private:
  std::u16string path_;
  std::vector<Ref<IBinaryImageChunk>> chunks_;
};

template <class Chunk>
bool ImageBase::TakeChunks(ImageBuilder& builder) {
  Ref<IImageBytes> bytes;
  std::vector<ChunkSpan> spans;
  if (!builder.Finish(bytes, spans)) return false;
  try {
    chunks_.reserve(spans.size());
    for (const ChunkSpan& s : spans)
      chunks_.push_back(Ref<IBinaryImageChunk>::Adopt(CreateObject<RCObject2<Chunk>>(bytes.get(), s)));
  } catch (const std::bad_alloc&) {
    chunks_.clear();
    return false;
  }
  return true;
}

}  // namespace qs::fw
