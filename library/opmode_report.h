// The operation-mode report: the payload of reply type kReplyOpModeReport
// (discovery/frame.h), which KV-xR devices send beside their announce. A
// sequence of items, each:
//   offset size  field
//        0    1  tag
//        1    1  length L
//        2    L  data
// Tags: 0xA0 the hardware identifier (an item whose L is not 16 is skipped);
// 0xA1 the operation mode (the first data byte; an item with L = 0 is
// skipped); any other tag is skipped. A later item replaces an earlier one of
// its tag. An item that runs past the payload ends the walk.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::kvxr {

constexpr uint8_t kItemHardwareId = 0xA0;
constexpr uint8_t kItemOperationMode = 0xA1;

struct OpModeReport {
  bool hasId = false;
  uint8_t hardwareId[16] = {};
  bool hasMode = false;
  uint8_t mode = 0;
};

// Walks the items; true when the report names both the device and its mode.
// out holds what was found either way.
bool DecodeOpModeReport(const uint8_t* payload, size_t len, OpModeReport* out);

// The identifier item and then the mode item, each only when present.
std::vector<uint8_t> EncodeOpModeReport(const OpModeReport& r);

}  // namespace qs::kvxr
