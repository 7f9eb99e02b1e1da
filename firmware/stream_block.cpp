#include "firmware/stream_block.h"

#include <cstring>

#include "runtime/bytes.h"

namespace qs::fw {

size_t StreamBlockCount(size_t programSize) { return (programSize + kStreamBlockSize - 1) / kStreamBlockSize; }

bool BuildStreamDatagram(const uint8_t datagramId[16], const DeviceId* devices, size_t n, uint16_t block,
                         const uint8_t* bytes, size_t length, std::vector<uint8_t>& out) {
  out.clear();
  if (n > kStreamMaxDevices || length == 0 || length > kStreamBlockSize) return false;
  out.resize(kStreamFixedSize + 16 * n + length, 0);
  uint8_t* p = out.data();
  std::memcpy(p, datagramId, 16);
  bytes::PutLe16(p + 16, 1);
  bytes::PutLe16(p + 18, static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) std::memcpy(p + 20 + 16 * i, devices[i].data(), 16);
  p += 20 + 16 * n;
  bytes::PutLe16(p, block);
  bytes::PutLe16(p + 2, static_cast<uint16_t>(length));
  std::memcpy(p + 4, bytes, length);
  // the trailer stays zero
  return true;
}

bool BuildStreamCycle(const uint8_t* program, size_t size, const std::vector<DeviceId>& devices,
                      std::vector<std::vector<uint8_t>>& out, UuidFn makeId) {
  out.clear();
  const size_t blocks = StreamBlockCount(size);
  if (blocks > kStreamMaxBlocks) return false;
  const size_t groups = devices.empty() ? 1 : (devices.size() + kStreamMaxDevices - 1) / kStreamMaxDevices;
  out.reserve(blocks * groups);
  for (size_t b = 0; b < blocks; ++b) {
    const size_t offset = b * kStreamBlockSize;
    const size_t length = size - offset < kStreamBlockSize ? size - offset : kStreamBlockSize;
    for (size_t g = 0; g < groups; ++g) {
      const size_t first = g * kStreamMaxDevices;
      const size_t n = devices.empty() ? 0
                       : devices.size() - first < kStreamMaxDevices ? devices.size() - first
                                                                    : kStreamMaxDevices;
      uint8_t id[16];
      std::vector<uint8_t> d;
      if (!makeId(id) || !BuildStreamDatagram(id, devices.data() + first, n, static_cast<uint16_t>(b),
                                              program + offset, length, d)) {
        out.clear();
        return false;
      }
      out.push_back(std::move(d));
    }
  }
  return true;
}

bool ParseStreamDatagram(const uint8_t* p, size_t len, StreamDatagramView& out) {
  if (!p || len < kStreamFixedSize + 1) return false;
  if (bytes::GetLe16(p + 16) != 1) return false;
  const size_t n = bytes::GetLe16(p + 18);
  if (n > kStreamMaxDevices || len < kStreamFixedSize + 16 * n + 1) return false;
  const uint8_t* b = p + 20 + 16 * n;
  const size_t length = bytes::GetLe16(b + 2);
  if (length == 0 || length > kStreamBlockSize || len != kStreamFixedSize + 16 * n + length) return false;
  out.datagramId = p;
  out.deviceCount = n;
  out.devices = p + 20;
  out.block = bytes::GetLe16(b);
  out.length = length;
  out.bytes = b + 4;
  return true;
}

}  // namespace qs::fw
