// The bookkeeping of one write request ("WRTE" or "WRTU") on the programming
// stream, apart from the socket: which data go out next (pieces of at most
// 16384 bytes, straight from the caller's memory), what the device's replies
// mean, and when the write is over. It succeeds once every byte is sent, the
// last "PRGS" position equals address + size and "WFIN" has been seen; an
// "ERRO" fails it; any other reply is skipped.
#pragma once
#include <cstddef>
#include <cstdint>

#include "firmware/stream_protocol.h"

namespace qs::fw {

constexpr size_t kWritePieceSize = 16384;

class RangeWrite {
 public:
  RangeWrite(uint32_t address, uint32_t size) : address_(address), size_(size) {}

  // Length of the next piece (0 when everything is sent) and its offset in the data.
  size_t NextPiece(size_t& offset) const;
  // n bytes of the next piece went out (a send may take less than offered).
  void Sent(size_t n);

  enum class Event { None, Progress, DeviceError };
  // Progress: a "PRGS" moved the position; percent is the share of the range
  // now written. DeviceError: the device answered "ERRO".
  Event OnReply(const StreamReply& reply, uint32_t& percent);

  bool AllSent() const { return sent_ == size_; }
  bool Succeeded() const { return AllSent() && finished_ && havePosition_ && position_ == End(); }
  bool Failed() const { return error_; }
  uint32_t position() const { return position_; }

 private:
  uint32_t End() const { return static_cast<uint32_t>(uint64_t{address_} + size_); }

  uint32_t address_;
  uint32_t size_;
  size_t sent_ = 0;
  uint32_t position_ = 0;
  bool havePosition_ = false;
  bool finished_ = false;
  bool error_ = false;
};

}  // namespace qs::fw
