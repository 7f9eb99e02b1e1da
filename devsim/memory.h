// The memory a KV-xR boot loader reads and writes over the programming
// stream: the flash from address 0 up to its size, and the product-data area
// apart from it. Sparse: only pages that were written are held; every other
// byte reads as erased (0xFF).
//
//   0x000000 .. flash size     flash (1 MiB unless set otherwise)
//     0x004000 .. 0x004FFF     the window in which the application's fw.info lies
//     0x03E000 .. 0x03FFFF     old configuration area (8192 bytes, earlier firmware)
//     0x0FE000 .. 0x0FE037     configuration block written by the product-data migration
//   0x804000 .. 0x8041FF       product-data area: 32 bytes of calibration data,
//     0x804020 .. 0x8041FF     then the product record (480 bytes)
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

namespace qs::devsim {

constexpr uint32_t kDefaultFlashSize = 0x100000;
constexpr uint32_t kMaxFlashSize = 0x800000;  // below the product-data area
constexpr uint32_t kInfoWindow = 0x4000, kInfoWindowSize = 0x1000;
constexpr uint32_t kOldConfigAddress = 0x3E000, kOldConfigSize = 8192;
constexpr uint32_t kConfigBlockAddress = 0xFE000, kConfigBlockSize = 56;
constexpr uint32_t kProductAddress = 0x804000, kProductSize = 512;
constexpr uint32_t kCalibrationSize = 32;
constexpr uint32_t kRecordAddress = 0x804020, kRecordSize = 480;

// Where a request's range lies; faults can be aimed at one area.
enum class Area : uint8_t { App, OldConfig, ConfigBlock, Product };
constexpr size_t kAreaCount = 4;
extern const char* const kAreaNames[kAreaCount];  // app oldconfig cfgblock product

class Memory {
 public:
  static constexpr uint32_t kPage = 256;

  explicit Memory(uint32_t flashSize = kDefaultFlashSize) : flashSize_(flashSize) {}

  uint32_t flashSize() const { return flashSize_; }
  // The range lies wholly in the flash or wholly in the product-data area
  // (size at least 1, no wrap past 0xFFFFFFFF).
  bool Holds(uint32_t address, uint32_t size) const;
  bool InFlash(uint32_t address, uint32_t size) const;
  static bool InRecord(uint32_t address, uint32_t size);  // inside the product record
  // The area of the range's first byte.
  static Area AreaOf(uint32_t address);

  // Callers keep to ranges that Holds accepts.
  void Read(uint32_t address, uint32_t size, uint8_t* out) const;
  void Write(uint32_t address, const uint8_t* data, size_t size);
  void Erase(uint32_t address, uint32_t size);
  void Digest(uint32_t address, uint32_t size, uint8_t out[20]) const;
  void Clear() { pages_.clear(); }
  size_t pages() const { return pages_.size(); }

 private:
  using Page = std::array<uint8_t, kPage>;
  uint32_t flashSize_;
  std::map<uint32_t, Page> pages_;  // page number -> bytes
};

}  // namespace qs::devsim
