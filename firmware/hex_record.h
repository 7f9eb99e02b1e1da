// One parsed line of either format, consumed by the loader.
#pragma once
#include <cstdint>

namespace qs::fw {

struct HexRecord {
  int32_t kind = -1;   // Intel record type 0-5, or the S-record digit 0-9
  uint32_t value = 0;  // address (data records) or the value of the record
  uint32_t length = 0; // data bytes (data records only)
  uint8_t data[255];   // owned by the record: no allocation per line
};

}  // namespace qs::fw
