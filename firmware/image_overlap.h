// Overlapping chunks: a file may name one address twice. Equal bytes are
// harmless; different bytes leave no defined content for the device (the later
// write would undo the earlier one and verification could never pass).
#pragma once
#include <cstdint>

#include "firmware/binary_image.h"

namespace qs::fw {

// True when two chunks give different bytes to one address; *at (when given)
// receives the first such address found.
bool HasConflictingOverlap(IBinaryImage* image, uint32_t* at = nullptr);

}  // namespace qs::fw
