#include "platform/uuid.h"

#include <windows.h>
#include <rpc.h>

#include <cstring>

namespace qs::plat {

bool NewUuid(uint8_t out[16]) {
  UUID u;
  RPC_STATUS s = UuidCreate(&u);
  std::memcpy(out, &u, 16);
  return s == RPC_S_OK || s == RPC_S_UUID_LOCAL_ONLY;
}

}  // namespace qs::plat
