// One datagram of the streamed RAM program, sent to UDP multicast group
// 239.0.0.64, port 60892. Integers are little-endian.
//
//   offset        size   field
//   0             16     datagram identifier: a fresh UUID for every datagram built
//   16            2      1
//   18            2      n: number of device identifiers that follow (0 to 16)
//   20            16n    device identifiers
//   20 + 16n      2      block number, from 0
//   22 + 16n      2      L: number of program bytes in this block (1 to 512)
//   24 + 16n      L      program bytes from offset block number x 512
//   24 + 16n + L  20     trailer: zeros (not read)
//
// Block b holds the bytes from b x 512 up to the program's end, at most 512:
// the 107,404-byte program makes 210 blocks, the last of 396 bytes. With no
// device named a block goes out once per cycle with n = 0; otherwise once per
// group of up to 16 identifiers, in the order the devices were added (17
// devices: two datagrams per block, 16 identifiers and then 1). A cycle holds
// every datagram of block 0, then those of block 1, and so on.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::fw {

constexpr uint32_t kStreamGroupAddress = 0xEF000040;  // 239.0.0.64, host order
constexpr uint16_t kStreamPort = 60892;
constexpr size_t kStreamBlockSize = 512;
constexpr size_t kStreamMaxDevices = 16;
constexpr size_t kStreamTrailerSize = 20;
constexpr size_t kStreamFixedSize = 44;  // identifier, 1, n, block, L, trailer
constexpr size_t kStreamMaxDatagram = kStreamFixedSize + 16 * kStreamMaxDevices + kStreamBlockSize;
constexpr size_t kStreamMaxBlocks = 65536;  // the block number is 16-bit

using DeviceId = std::array<uint8_t, 16>;

// Blocks of a program of size bytes (0 for an empty program).
size_t StreamBlockCount(size_t programSize);

// One datagram; false when n or L is out of range.
bool BuildStreamDatagram(const uint8_t datagramId[16], const DeviceId* devices, size_t n, uint16_t block,
                         const uint8_t* bytes, size_t length, std::vector<uint8_t>& out);

using UuidFn = bool (*)(uint8_t out[16]);

// Every datagram of one cycle, each with its own identifier from makeId. An
// empty program gives an empty cycle. false (and an empty cycle) when the
// program has more than 65536 blocks or an identifier cannot be made.
bool BuildStreamCycle(const uint8_t* program, size_t size, const std::vector<DeviceId>& devices,
                      std::vector<std::vector<uint8_t>>& out, UuidFn makeId);

// The receiving side (the device; the simulator and tests). Pointers point
// into the datagram.
struct StreamDatagramView {
  const uint8_t* datagramId = nullptr;
  size_t deviceCount = 0;
  const uint8_t* devices = nullptr;  // deviceCount x 16 bytes
  uint16_t block = 0;
  size_t length = 0;
  const uint8_t* bytes = nullptr;
};

// The datagram is exactly as laid out above: format word 1, n at most 16, L
// from 1 to 512 and the length 44 + 16n + L.
bool ParseStreamDatagram(const uint8_t* p, size_t len, StreamDatagramView& out);

}  // namespace qs::fw
