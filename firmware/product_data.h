// A KV-xR unit's product data, as plain bytes: where it lies in the unit's
// memory, when its product record is valid, and how a record (and the
// configuration block beside it) is built from the configuration block that
// earlier firmware kept.
//
// Device memory (addresses of the programming stream):
//   0x804000  512   product-data area: 32 bytes of calibration data, then
//   0x804020  480   the product record
//   0x03E000  8192  old configuration area, written by earlier firmware
//   0x0FE000  56    configuration block written by the migration ("WRTE")
//
// Product record (at most 480 bytes; what follows its end item is 0xFF):
//   0   20  SHA-1 of the bytes from 20 up to and including the end item
//   20  ..  items: tag (1), length L (1), L data bytes. Written in this order:
//           F0 01 01            record format 1
//           01 08 <model code>  bytes 22-29 of the old block
//           02 06 <MAC>         bytes 0-5 of the old block
//           03 n  <serial>      from byte 30 of the old block up to its first
//                               NUL, at most 24 characters, no terminator;
//                               left out when empty (length 0 ends a walk)
//           FF 00               end item
// A record is valid when walking its items from byte 20 reaches an item with
// tag 0xFF or length 0 without any item running past byte 480, and the SHA-1
// of bytes 20 up to the end of that item equals bytes 0-19.
//
// Old configuration block (start of the old area): 0-5 MAC, 6-21 network
// settings (kept as they are), 22-29 model code (ASCII), 30.. serial text. It
// passes its check when its MAC is neither all 0xFF nor all 0x00 and its model
// code begins with "KV1R", "KV2R" or "KV3R".
//
// Configuration block (56 bytes at 0xFE000), built from the old block:
//   0   4   "KVCF"
//   4   1   format 1
//   5   1   zero
//   6   6   MAC (old block 0-5)
//   12  16  network settings (old block 6-21, unchanged)
//   28  8   model code (old block 22-29)
//   36  20  SHA-1 of bytes 0-35
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/rc.h"

namespace qs::fw {

constexpr uint32_t kProductDataAddress = 0x804000;
constexpr uint32_t kProductDataSize = 512;
constexpr uint32_t kCalibrationSize = 32;
constexpr uint32_t kProductRecordAddress = 0x804020;
constexpr uint32_t kProductRecordSize = 480;
constexpr uint32_t kOldConfigAddress = 0x3E000;
constexpr uint32_t kOldConfigSize = 8192;
constexpr uint32_t kConfigBlockAddress = 0xFE000;
constexpr uint32_t kConfigBlockSize = 56;
// What the erase writes at the record's start: its digest, destroyed.
constexpr uint32_t kRecordEraseSize = 20;

constexpr size_t kRecordDigestSize = 20;
constexpr uint8_t kItemFormat = 0xF0;
constexpr uint8_t kItemModel = 0x01;
constexpr uint8_t kItemMac = 0x02;
constexpr uint8_t kItemSerial = 0x03;
constexpr uint8_t kItemEnd = 0xFF;
constexpr uint8_t kRecordFormat = 1;
constexpr size_t kModelCodeSize = 8;
constexpr size_t kRecordSerialMax = 24;
// Old block offsets.
constexpr size_t kOldMacAt = 0;
constexpr size_t kOldSettingsAt = 6;
constexpr size_t kOldSettingsSize = 16;
constexpr size_t kOldModelAt = 22;
constexpr size_t kOldSerialAt = 30;

// The walk of a record's items: where the end item ends (the digest covers
// bytes 20 up to there), or failure when an item runs past the record's size.
struct RecordWalk {
  bool complete = false;
  size_t end = 0;    // offset just past the end item
  size_t items = 0;  // items walked, the end item included
};
RecordWalk WalkProductRecord(const uint8_t* record, size_t size);
// The walk completes and the digest matches. size is the record's room
// (kProductRecordSize for a record read from a unit).
bool ProductRecordValid(const uint8_t* record, size_t size);

// One item of a record, as the walk finds it.
struct RecordItem {
  uint8_t tag = 0;
  uint8_t length = 0;
  const uint8_t* data = nullptr;
};
// The i-th item of a record whose walk completes; false past the end item.
bool ProductRecordItem(const uint8_t* record, size_t size, size_t i, RecordItem* out);

// The old block passes its check (size: bytes available, at least 30).
bool OldBlockPasses(const uint8_t* block, size_t size);
// The old block's serial: from byte 30 up to its first NUL, at most 24
// characters, within size.
std::string OldBlockSerial(const uint8_t* block, size_t size);

// Builds the record from the old block into out (capacity bytes; what the
// items leave free is 0xFF). false when the items do not fit. *used: bytes
// up to the end item's end.
bool BuildProductRecord(const uint8_t* oldBlock, size_t oldSize, uint8_t* out, size_t capacity, size_t* used);
// Builds the 56-byte configuration block from the old block (at least 30 bytes).
bool BuildConfigBlock(const uint8_t* oldBlock, size_t oldSize, uint8_t out[kConfigBlockSize]);

// The 512 bytes of a product-data read, shared by the job that fills them and
// the library that hands them to its caller.
struct ProductDataBuffer : IRefCounted {
  uint8_t bytes[kProductDataSize] = {};
};
Ref<ProductDataBuffer> NewProductDataBuffer();

}  // namespace qs::fw
