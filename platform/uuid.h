// 16 random bytes from the system UUID generator, as it stores them in memory.
#pragma once
#include <cstdint>

namespace qs::plat {

bool NewUuid(uint8_t out[16]);

}  // namespace qs::plat
