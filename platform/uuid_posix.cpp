#include "platform/uuid.h"

#include <uuid/uuid.h>

namespace qs::plat {

bool NewUuid(uint8_t out[16]) {
  uuid_t u;
  uuid_generate_random(u);
  for (int i = 0; i < 16; ++i) out[i] = u[i];
  return true;
}

}  // namespace qs::plat
