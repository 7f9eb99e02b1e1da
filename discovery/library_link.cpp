#include "discovery/library_api.h"

namespace qs::disc {

const LibraryApi& LinkedLibrary() {
  static const LibraryApi api = {KVxR_SetDiscoveryMode, KVxR_DiscoverDevices, KVxR_GetSerial, KVxR_GetHardwareID};
  return api;
}

}  // namespace qs::disc
