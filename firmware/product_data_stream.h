// Product-data work over an open programming stream (stream_protocol.h):
// the unit's memory as the migration sees it, reached by "READ" requests of
// at most 4096 bytes each ("RDAT" replies, each part awaited up to
// kReplyLimitMs) and by write requests; the read job, the erase job and the
// firmware job's product-data step (product_data_migration.h).
#pragma once
#include <cstdint>

#include "firmware/device_log.h"
#include "firmware/product_data.h"
#include "firmware/product_data_migration.h"
#include "firmware/stream_connection.h"
#include "platform/event.h"
#include "runtime/log_sink.h"

namespace qs::fw {

class StreamMemory final : public DeviceMemory {
 public:
  StreamMemory(StreamConnection& c, const plat::Event& stop, JobLog& log) : c_(c), stop_(stop), log_(log) {}
  int32_t Read(uint32_t address, uint32_t size, uint8_t* out) override;
  int32_t Write(WriteTag tag, uint32_t address, const uint8_t* data, uint32_t size) override;

 private:
  int32_t ReadPiece(uint32_t address, uint32_t size, uint8_t* out);

  StreamConnection& c_;
  const plat::Event& stop_;
  JobLog& log_;
};

// Reads the 512-byte product-data area into buffer, then "APPL": 1, or the
// read's failure (-29, -104; the buffer then holds what came before it).
int32_t RunProductDataRead(StreamConnection& c, const plat::Event& stop, JobLog& log, ProductDataBuffer* buffer);
// Writes 20 bytes of 0xFF at the record's start ("WRTU"; the record no longer
// validates), then "APPL": 1, or the write's failure (the unit then stays in
// its boot loader).
int32_t RunProductDataErase(StreamConnection& c, const plat::Event& stop, JobLog& log);
// The firmware job's check and migration: 0, 1, -26, -27, -28.
int32_t RunProductDataStep(StreamConnection& c, const plat::Event& stop, JobLog& log, DeviceLog& deviceLog);

}  // namespace qs::fw
