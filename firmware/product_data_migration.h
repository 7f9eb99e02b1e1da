// The product-data step of a firmware job: before anything is programmed, the
// unit's product record is checked and, when it is not valid, rebuilt from
// the configuration block that earlier firmware kept (product_data.h). Every
// step leaves an entry in the job's device log (device_log.h):
//
//   1. read the 32 calibration bytes       -> "calibration-data" (skipped when
//                                             the read fails)
//   2. read the 512-byte product-data area  -> read fails: "product-data"
//                                             "read-error", -27
//   3. record valid                         -> "product-data" (480 bytes), 0
//      record not valid                     -> "product-data" (the 480 bytes
//                                             found), go on
//   4. read the 8192-byte old area          -> fails: "obsolete-config-area"
//                                             "read-error", -27
//   5. old block fails its check            -> "obsolete-config-area" (first 64
//                                             bytes), -26
//   6. old block passes                     -> "obsolete-config-area" (first 256
//                                             bytes); write the configuration
//                                             block ("WRTE" at 0xFE000) ->
//                                             "migrated-config-area" (its 56
//                                             bytes, or "write-error" and -28)
//   7. build the record, write it ("WRTU" at 0x804020, 480 bytes)
//                                           -> "migrated-product-data" (the
//                                             record, or "build-error" /
//                                             "write-error" and -28), 1
//
// Result: 0 nothing to migrate, 1 migrated, or KVXR_UPDATE_PRODUCT_DATA_CHECK,
// KVXR_UPDATE_PRODUCT_DATA_READ or KVXR_UPDATE_PRODUCT_DATA_MIGRATION.
// The job programs only after 0 or 1.
#pragma once
#include <cstdint>

#include "firmware/device_log.h"
#include "firmware/stream_protocol.h"

namespace qs::fw {

// A unit's memory as the programming stream reaches it.
class DeviceMemory {
 public:
  // 1 when size bytes from address are in out, else the stream's failure
  // status (-29 bad or missing "RDAT", -104 send failed).
  virtual int32_t Read(uint32_t address, uint32_t size, uint8_t* out) = 0;
  // 1 when written and finished, else the failure status (-25 "ERRO", -104).
  virtual int32_t Write(WriteTag tag, uint32_t address, const uint8_t* data, uint32_t size) = 0;

 protected:
  ~DeviceMemory() = default;
};

int32_t MigrateProductData(DeviceMemory& memory, DeviceLog& log);

// Text entries of failed steps.
constexpr const char* kLogReadError = "read-error";
constexpr const char* kLogWriteError = "write-error";
constexpr const char* kLogBuildError = "build-error";

}  // namespace qs::fw
