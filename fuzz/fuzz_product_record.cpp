// A unit's product record as read from it: the walk of its items never leaves
// the bytes it is given, every item it names lies inside the walked part, and
// a record is only valid when its walk completes. The same bytes taken as an
// old configuration block build a record that is valid and holds that
// block's model code, MAC and serial (no serial item when it has none).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/product_data.h"

using namespace qs::fw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RecordWalk w = WalkProductRecord(data, size);
  if (w.complete) {
    if (w.end > size || w.end < kRecordDigestSize + 2 || w.items == 0) std::abort();
    RecordItem item;
    size_t at = kRecordDigestSize;
    for (size_t i = 0; i < w.items; ++i) {
      if (!ProductRecordItem(data, size, i, &item)) std::abort();
      if (item.data != data + at + 2 || at + 2 + item.length > w.end) std::abort();
      const bool last = item.tag == kItemEnd || item.length == 0;
      if (last != (i + 1 == w.items)) std::abort();
      at += 2 + size_t{item.length};
    }
    if (at != w.end || ProductRecordItem(data, size, w.items, &item)) std::abort();
  } else if (ProductRecordValid(data, size)) {
    std::abort();
  }

  if (size >= kOldSerialAt) {
    std::vector<uint8_t> record(kProductRecordSize);
    size_t used = 0;
    const std::string serial = OldBlockSerial(data, size);
    if (serial.size() > kRecordSerialMax || serial.find('\0') != std::string::npos) std::abort();
    if (!BuildProductRecord(data, size, record.data(), record.size(), &used)) std::abort();
    if (!ProductRecordValid(record.data(), record.size())) std::abort();
    if (WalkProductRecord(record.data(), record.size()).end != used || used > record.size()) std::abort();
    for (size_t i = used; i < record.size(); ++i)
      if (record[i] != 0xFF) std::abort();
    RecordItem model, mac, sn;
    if (!ProductRecordItem(record.data(), record.size(), 1, &model) ||
        !ProductRecordItem(record.data(), record.size(), 2, &mac) ||
        !ProductRecordItem(record.data(), record.size(), 3, &sn))
      std::abort();
    if (model.tag != kItemModel || model.length != kModelCodeSize ||
        std::memcmp(model.data, data + kOldModelAt, kModelCodeSize) != 0 || mac.tag != kItemMac ||
        mac.length != 6 || std::memcmp(mac.data, data + kOldMacAt, 6) != 0)
      std::abort();
    // no serial, no serial item: the end item follows the MAC
    if (serial.empty() ? sn.tag != kItemEnd
                       : sn.tag != kItemSerial || sn.length != serial.size() ||
                             std::memcmp(sn.data, serial.data(), serial.size()) != 0)
      std::abort();
    uint8_t block[kConfigBlockSize];
    if (!BuildConfigBlock(data, size, block) || std::memcmp(block + 6, data + kOldMacAt, 6) != 0) std::abort();
    (void)OldBlockPasses(data, size);
  }
  return 0;
}
