// A plain model of the reading rules, for the reader fuzz targets: lines cut
// from the whole text at once, records kept in file order, runs sorted with
// std::stable_sort and joined, each run and chunk a vector of its own. The readers
// must build exactly the chunks it builds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "firmware/binary_image.h"

namespace qs::fw::fuzz {

enum class Format { IntelHex, SRecord };

struct ModelChunk {
  uint32_t start;
  std::vector<uint8_t> data;
};

// The chunks of text by the rules of the format; false when the text does not load.
bool ModelLoad(const uint8_t* text, size_t size, Format format, std::vector<ModelChunk>& chunks);

// Aborts when the reader's answer (image, or null) differs from the model's.
// A refusal is accepted only where the text is large enough for the limit to
// have refused it.
void CheckAgainstModel(const uint8_t* text, size_t size, Format format, IBinaryImage* image, size_t limit);

}  // namespace qs::fw::fuzz
