// S-record reader on arbitrary text.
#include <cstddef>
#include <cstdint>

#include "firmware/byte_source.h"
#include "firmware/motorola_hex.h"
#include "fuzz/fuzz_image_checks.h"
#include "fuzz/fuzz_reader_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kLimit = 1 << 20;
  qs::fw::MemoryByteSource src(data, size);
  qs::fw::IBinaryImage* img = qs::fw::MotorolaHex::LoadFrom(src, u"fuzz", kLimit);
  qs::fw::fuzz::CheckAgainstModel(data, size, qs::fw::fuzz::Format::SRecord, img, kLimit);
  if (img) {
    qs::fw::fuzz::CheckImage(img, kLimit);
    img->Release();
  }
  return 0;
}
