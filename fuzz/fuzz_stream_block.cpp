// The RAM program datagram's receiving side: anything it accepts is rebuilt
// byte for byte by the sending side's encoder (the trailer is zeros).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/stream_block.h"

using namespace qs::fw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StreamDatagramView v;
  if (!ParseStreamDatagram(data, size, v)) return 0;
  if (v.deviceCount > kStreamMaxDevices || v.length == 0 || v.length > kStreamBlockSize) std::abort();
  if (v.bytes + v.length + kStreamTrailerSize != data + size) std::abort();
  std::vector<DeviceId> devices(v.deviceCount);
  for (size_t i = 0; i < v.deviceCount; ++i) std::memcpy(devices[i].data(), v.devices + 16 * i, 16);
  std::vector<uint8_t> again;
  if (!BuildStreamDatagram(v.datagramId, devices.data(), devices.size(), v.block, v.bytes, v.length, again))
    std::abort();
  if (again.size() != size || std::memcmp(again.data(), data, size - kStreamTrailerSize) != 0) std::abort();
  return 0;
}
