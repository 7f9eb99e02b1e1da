#include "firmware/product_data_stream.h"

#include <cstring>

#include "firmware/programmer_xx.h"
#include "firmware/update_status.h"

namespace qs::fw {

int32_t StreamMemory::ReadPiece(uint32_t address, uint32_t size, uint8_t* out) {
  uint8_t req[kRangeRequestSize];
  if (!EncodeReadRequest(address, size, req)) return KVXR_UPDATE_BAD_READ;
  if (c_.Send(req, sizeof req, plat::WaitLimit{kSendLimitMs, stop_.object()}) != plat::kSockOk) {
    log_(LogKind::Outcome, "read request for 0x%06X not sent", address);
    return KVXR_UPDATE_SEND_FAILED;
  }
  StreamReply reply;
  StreamConnection::Got g = c_.Next(reply, plat::WaitLimit{kReplyLimitMs, stop_.object()});
  if (g != StreamConnection::Got::Reply) {
    log_(LogKind::Outcome, "no data for 0x%06X+%u (%s)", address, size,
         g == StreamConnection::Got::Timeout   ? "time-out"
         : g == StreamConnection::Got::Stopped ? "stopped"
                                               : "stream failed");
    return KVXR_UPDATE_BAD_READ;
  }
  if (reply.kind != ReplyKind::ReadData || reply.dataSize != size) {
    log_(LogKind::Outcome, "message %.4s (%u bytes) instead of the data of 0x%06X+%u", reply.tag, reply.length,
         address, size);
    return KVXR_UPDATE_BAD_READ;
  }
  std::memcpy(out, reply.data, size);
  return 1;
}

int32_t StreamMemory::Read(uint32_t address, uint32_t size, uint8_t* out) {
  for (uint32_t done = 0; done < size;) {
    const uint32_t piece = size - done < kMaxReadSize ? size - done : kMaxReadSize;
    int32_t st = ReadPiece(address + done, piece, out + done);
    if (st != 1) return st;
    done += piece;
  }
  log_(LogKind::Received, "read 0x%06X+%u", address, size);
  return 1;
}

int32_t StreamMemory::Write(WriteTag tag, uint32_t address, const uint8_t* data, uint32_t size) {
  int32_t st = WriteRange(c_, tag, address, data, size, stop_, log_, nullptr, nullptr);
  return st == 1 ? 1 : (st < 0 ? st : KVXR_UPDATE_SEND_FAILED);
}

int32_t RunProductDataRead(StreamConnection& c, const plat::Event& stop, JobLog& log, ProductDataBuffer* buffer) {
  StreamMemory memory(c, stop, log);
  int32_t st = memory.Read(kProductDataAddress, kProductDataSize, buffer->bytes);
  if (st != 1) return st;
  st = SendApply(c, stop, log);
  return st != 0 ? st : 1;
}

int32_t RunProductDataErase(StreamConnection& c, const plat::Event& stop, JobLog& log) {
  uint8_t erased[kRecordEraseSize];
  std::memset(erased, 0xFF, sizeof erased);
  StreamMemory memory(c, stop, log);
  int32_t st = memory.Write(WriteTag::ProductData, kProductRecordAddress, erased, sizeof erased);
  if (st != 1) {
    log(LogKind::Outcome, "erase of the product record failed: %d", st);
    return st;
  }
  st = SendApply(c, stop, log);
  return st != 0 ? st : 1;
}

int32_t RunProductDataStep(StreamConnection& c, const plat::Event& stop, JobLog& log, DeviceLog& deviceLog) {
  StreamMemory memory(c, stop, log);
  int32_t st = MigrateProductData(memory, deviceLog);
  log(st < 0 ? LogKind::Outcome : LogKind::Note, "product data: %s (%d)",
      st == 0   ? "valid, left as it is"
      : st == 1 ? "migrated from the old configuration block"
                : "check or migration failed, nothing programmed",
      st);
  return st;
}

}  // namespace qs::fw
