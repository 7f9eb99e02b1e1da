// What every image a reader returns must satisfy, checked after each input.
#pragma once
#include <cstddef>

#include "firmware/binary_image.h"

namespace qs::fw::fuzz {

// Aborts on a broken image: chunks out of order, empty, wrapping past
// 0xFFFFFFFF, two neighbours that touch (they should have been one), or more
// bytes than limit; an overlap check that disagrees with comparing every
// address. Then reads the description.
void CheckImage(IBinaryImage* image, size_t limit);

}  // namespace qs::fw::fuzz
