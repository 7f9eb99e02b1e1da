// The "fw.info" reader over images of arbitrary chunks. Input: records of
// [offset from 0x3C00: 2 bytes][length: 2 bytes][bytes], which may overlap,
// touch or leave holes around the window 0x4000..0x4FFF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/binary_image.h"
#include "firmware/firmware_info.h"
#include "library/KV-xR_update.h"

namespace {

using namespace qs;
using namespace qs::fw;

class Chunk : public IBinaryImageChunk {
 public:
  Chunk(uint32_t start, std::vector<uint8_t> bytes) : start_(start), bytes_(std::move(bytes)) {}
  uint32_t GetStartAddress() override { return start_; }
  uint32_t GetEndAddress() override { return start_ + static_cast<uint32_t>(bytes_.size()) - 1; }
  const uint8_t* GetData() override { return bytes_.data(); }

 private:
  uint32_t start_;
  std::vector<uint8_t> bytes_;
};

class Image : public IBinaryImage {
 public:
  int32_t GetChunkCount() override { return static_cast<int32_t>(chunks_.size()); }
  bool GetChunk(int32_t i, IBinaryImageChunk** out) override {
    if (i < 0 || static_cast<size_t>(i) >= chunks_.size()) return false;
    *out = chunks_[static_cast<size_t>(i)].get();
    (*out)->AddRef();
    return true;
  }
  void Add(uint32_t start, std::vector<uint8_t> b) {
    chunks_.push_back(Ref<IBinaryImageChunk>::Adopt(CreateObject<RCObject2<Chunk>>(start, std::move(b))));
  }

 private:
  std::vector<Ref<IBinaryImageChunk>> chunks_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Ref<Image> img = Ref<Image>::Adopt(CreateObject<RCObject2<Image>>());
  size_t i = 0;
  while (i + 4 <= size) {
    uint32_t start = 0x3C00u + (static_cast<uint32_t>(data[i]) << 8 | data[i + 1]);
    size_t len = static_cast<size_t>(data[i + 2]) << 8 | data[i + 3];
    i += 4;
    if (len > size - i) len = size - i;
    if (len == 0) continue;
    img->Add(start, std::vector<uint8_t>(data + i, data + i + len));
    i += len;
  }
  FirmwareInfo info;
  int32_t st = ReadFirmwareInfo(img.get(), info);
  if (st != KVXR_OK && st != KVXR_NO_FW_INFO && st != KVXR_BAD_FW_INFO && st != KVXR_WRONG_FAMILY && st != KVXR_BAD_FW_VERSION) std::abort();
  return 0;
}
