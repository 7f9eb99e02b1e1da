#include "firmware/product_data.h"

#include <cstring>
#include <new>

#include "platform/sha1.h"

namespace qs::fw {

namespace {

constexpr uint8_t kErased = 0xFF;

bool AllBytes(const uint8_t* p, size_t n, uint8_t v) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != v) return false;
  return true;
}

// Appends one item at *at within capacity; false when it does not fit.
bool PutItem(uint8_t* out, size_t capacity, size_t* at, uint8_t tag, const uint8_t* data, size_t length) {
  if (length > 0xFF || *at > capacity || capacity - *at < 2 + length) return false;
  out[*at] = tag;
  out[*at + 1] = static_cast<uint8_t>(length);
  if (length) std::memcpy(out + *at + 2, data, length);
  *at += 2 + length;
  return true;
}

}  // namespace

RecordWalk WalkProductRecord(const uint8_t* record, size_t size) {
  RecordWalk w;
  if (!record) return w;
  size_t at = kRecordDigestSize;
  for (;;) {
    if (at >= size || size - at < 2) return w;
    const uint8_t tag = record[at];
    const uint8_t length = record[at + 1];
    if (size - at - 2 < length) return w;
    at += 2 + size_t{length};
    ++w.items;
    if (tag == kItemEnd || length == 0) break;
  }
  w.complete = true;
  w.end = at;
  return w;
}

bool ProductRecordValid(const uint8_t* record, size_t size) {
  const RecordWalk w = WalkProductRecord(record, size);
  if (!w.complete) return false;
  uint8_t digest[plat::kSha1Size];
  if (!plat::Sha1Digest(record + kRecordDigestSize, w.end - kRecordDigestSize, digest)) return false;
  return std::memcmp(digest, record, kRecordDigestSize) == 0;
}

bool ProductRecordItem(const uint8_t* record, size_t size, size_t i, RecordItem* out) {
  const RecordWalk w = WalkProductRecord(record, size);
  if (!w.complete || i >= w.items) return false;
  size_t at = kRecordDigestSize;
  for (size_t k = 0; k < i; ++k) at += 2 + size_t{record[at + 1]};
  out->tag = record[at];
  out->length = record[at + 1];
  out->data = record + at + 2;
  return true;
}

bool OldBlockPasses(const uint8_t* block, size_t size) {
  if (!block || size < kOldSerialAt) return false;
  const uint8_t* mac = block + kOldMacAt;
  if (AllBytes(mac, 6, 0xFF) || AllBytes(mac, 6, 0x00)) return false;
  const char* code = reinterpret_cast<const char*>(block + kOldModelAt);
  return std::memcmp(code, "KV1R", 4) == 0 || std::memcmp(code, "KV2R", 4) == 0 || std::memcmp(code, "KV3R", 4) == 0;
}

std::string OldBlockSerial(const uint8_t* block, size_t size) {
  std::string serial;
  for (size_t i = kOldSerialAt; i < size && serial.size() < kRecordSerialMax && block[i] != 0; ++i)
    serial.push_back(static_cast<char>(block[i]));
  return serial;
}

bool BuildProductRecord(const uint8_t* oldBlock, size_t oldSize, uint8_t* out, size_t capacity, size_t* used) {
  if (!oldBlock || oldSize < kOldSerialAt || !out || capacity < kRecordDigestSize) return false;
  std::memset(out, kErased, capacity);
  size_t at = kRecordDigestSize;
  const uint8_t format = kRecordFormat;
  const std::string serial = OldBlockSerial(oldBlock, oldSize);
  if (!PutItem(out, capacity, &at, kItemFormat, &format, 1) ||
      !PutItem(out, capacity, &at, kItemModel, oldBlock + kOldModelAt, kModelCodeSize) ||
      !PutItem(out, capacity, &at, kItemMac, oldBlock + kOldMacAt, 6) ||
      // an empty serial item would end the walk before the end item that the
      // digest covers: the record would never be valid
      (!serial.empty() &&
       !PutItem(out, capacity, &at, kItemSerial, reinterpret_cast<const uint8_t*>(serial.data()), serial.size())) ||
      !PutItem(out, capacity, &at, kItemEnd, nullptr, 0))
    return false;
  if (!plat::Sha1Digest(out + kRecordDigestSize, at - kRecordDigestSize, out)) return false;
  if (used) *used = at;
  return true;
}

bool BuildConfigBlock(const uint8_t* oldBlock, size_t oldSize, uint8_t out[kConfigBlockSize]) {
  if (!oldBlock || oldSize < kOldSerialAt) return false;
  std::memset(out, 0, kConfigBlockSize);
  std::memcpy(out, "KVCF", 4);
  out[4] = 1;
  std::memcpy(out + 6, oldBlock + kOldMacAt, 6);
  std::memcpy(out + 12, oldBlock + kOldSettingsAt, kOldSettingsSize);
  std::memcpy(out + 28, oldBlock + kOldModelAt, kModelCodeSize);
  return plat::Sha1Digest(out, 36, out + 36);
}

Ref<ProductDataBuffer> NewProductDataBuffer() {
  auto* b = new (std::nothrow) RCObject2<ProductDataBuffer>();
  return Ref<ProductDataBuffer>(b);
}

}  // namespace qs::fw
