// What both readers' images and chunks have in common: a chunk is a slice of
// the image's shared bytes; an image is its chunk list.
#pragma once
#include <new>
#include <string>
#include <vector>

#include "firmware/binary_image.h"
#include "firmware/byte_source.h"
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
  // A new image of one reader, read from src, with one reference for the
  // caller; null when the text is refused or memory ran out.
  template <class Image>
  static IBinaryImage* LoadWith(ByteSource& src, const std::u16string& path, size_t limit);
  template <class Image>
  static IBinaryImage* LoadFileWith(const std::u16string& path);

  // The reader's own part: the data records of src, up to the termination
  // record, into builder; false when the text is refused. It may be called a
  // second time on the same text (see ImageBuilder).
  virtual bool Read(ByteSource& src, ImageBuilder& builder) = 0;

 private:
  // The whole load: one reading, a second one when the builder asks for it,
  // then the chunk list.
  template <class Chunk>
  bool Build(ByteSource& src, size_t limit);

  std::u16string path_;
  std::vector<Ref<IBinaryImageChunk>> chunks_;
};

// One reader's image: its own chunk type and its loaders over the reader's
// Read (Derived is the reader).
template <class Derived>
class ReaderImage : public ImageBase {
 public:
  class Chunk : public ChunkBase {
   public:
    using ChunkBase::ChunkBase;
  };

  explicit ReaderImage(const std::u16string& path) : ImageBase(path) {}

  // A new image with one reference for the caller, or null.
  static IBinaryImage* Load(const std::u16string& path) { return LoadFileWith<Derived>(path); }
  static IBinaryImage* LoadFrom(ByteSource& src, const std::u16string& path, size_t limit = kMaxImageBytes) {
    return LoadWith<Derived>(src, path, limit);
  }
};

template <class Image>
IBinaryImage* ImageBase::LoadWith(ByteSource& src, const std::u16string& path, size_t limit) {
  ImageBase* img = nullptr;
  try {
    img = CreateObject<RCObject2<Image>>(path);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!img->Build<typename Image::Chunk>(src, limit)) {
    img->Release();
    return nullptr;
  }
  return img;
}

template <class Image>
IBinaryImage* ImageBase::LoadFileWith(const std::u16string& path) {
  FileByteSource src;
  if (!src.Open(path)) return nullptr;
  return LoadWith<Image>(src, path, kMaxImageBytes);
}

template <class Chunk>
bool ImageBase::Build(ByteSource& src, size_t limit) {
  ImageBuilder builder(src.Size(), limit);
  if (!Read(src, builder)) return false;
  switch (builder.Settle()) {
    case ImageBuilder::Next::Done:
      break;
    case ImageBuilder::Next::ReadAgain:
      if (!src.Rewind() || !Read(src, builder)) return false;
      break;
    case ImageBuilder::Next::Refused:
      return false;
  }
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
