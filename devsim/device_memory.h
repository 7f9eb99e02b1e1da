// What a KV-xR device's memory holds, built from its settings and read back
// as its firmware would: the application's fw.info, a firmware file's chunks,
// and the product-data area and old configuration area in each of the states
// an update meets.
//
// Old configuration block (start of the old configuration area, as earlier
// firmware wrote it):
//   0   6   MAC address
//   6   1   DHCP flag
//   8   4   static address, 12 4 netmask, 16 4 gateway (big-endian)
//   22  8   model code, ASCII, NUL-padded ("KV1R")
//   30  ..  serial text, NUL-terminated
// It passes its check when the MAC is neither all 0xFF nor all 0x00 and the
// model code begins with "KV1R", "KV2R" or "KV3R".
//
// Product record (0x804020, 480 bytes):
//   0   20  SHA-1 of the bytes from 20 up to the end of the end item
//   20  ..  items tag (1), length L (1), L bytes: F0 01 01 | 01 08 model code |
//           02 06 MAC | 03 n serial | FF 00; the rest erased
// It is valid when the walk from 20 reaches a tag 0xFF or a length 0 without
// an item running past byte 480 and the digest matches.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devsim/memory.h"
#include "firmware/firmware_info.h"

namespace qs::devsim {

// The states of the product-data and old configuration areas.
enum class ProductState : uint8_t { Valid, Old, OldBad, OldLongSerial, Blank };
constexpr size_t kProductStateCount = 5;
extern const char* const kProductStateNames[kProductStateCount];  // valid old old-bad old-long-serial blank

struct Identity {
  std::string model, serial;
  std::array<uint8_t, 6> mac{};
  bool dhcp = false;
  uint32_t address = 0, netmask = 0, gateway = 0;
};

// Calibration data, old configuration block and product record for the state.
void WriteProductState(Memory& m, ProductState state, const Identity& id);
bool RecordValid(const uint8_t record[kRecordSize]);
bool OldBlockPasses(const uint8_t* block, size_t size);

// "fw.info" and its JSON at the start of the window, as a firmware of that
// version carries it.
void WriteInfoBlock(Memory& m, uint32_t major, uint32_t minor);
// The fw.info of the flash, read as the firmware readers read an image's: 0
// or the status of the failure (-500 .. -503).
int32_t ReadInfoBlock(const Memory& m, fw::FirmwareInfo& info);

// A firmware file's chunks, loaded once and shared by every device made with it.
struct FlashImage {
  std::string path;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> chunks;
};
// Loads an Intel HEX or S-record file whose chunks lie in the flash; the
// fw.info need not be valid (a device may be made with a broken firmware).
bool LoadFlashImage(const std::string& path, std::shared_ptr<const FlashImage>* out, std::string* why);
void WriteFlashImage(Memory& m, const FlashImage& image);

}  // namespace qs::devsim
