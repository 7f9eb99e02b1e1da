// The programming stream: TCP, to the port a boot loader announces. Every
// message, in both directions, is
//
//   offset 0   u32   payload length N (little-endian, as every number here)
//   offset 4   4     tag, four ASCII characters in reading order
//   offset 8   N     payload
//
// Requests (library -> device):
//   "READ"  N = 8          address u32, size u32 (1 to 4096)
//   "DGST"  N = 8          address u32, size u32 (at least 1)
//   "WRTE"  N = size + 4   address u32, then size data bytes (firmware chunks,
//                          configuration area)
//   "WRTU"  N = size + 4   address u32, then size data bytes (product-data record)
//   "APPL"  N = 0          leave the boot loader and start the application
// A write request is sent as its 12-byte head followed by the data straight
// from the image's memory.
//
// Replies (device -> library):
//   "RDAT"  N = size + 4   4 bytes (not read), then size data bytes
//   "DGST"  N = 20         SHA-1 of the device's bytes in the range
//   "PRGS"  N = 4          position: address up to which the write has progressed
//   "WFIN"  any N          the write has finished (payload not read)
//   "ERRO"  any N          the write failed (payload not read)
//   other   any N          skipped by its length
// The parser refuses an "RDAT" whose N is below 4 or above 4100, a "DGST" whose
// N is not 20, a "PRGS" whose N is not 4, and any other message whose N is
// above kMaxSkippedPayload.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::fw {

constexpr size_t kStreamHeaderSize = 8;
constexpr uint32_t kMaxReadSize = 4096;
constexpr size_t kRangeRequestSize = 16;  // header, address, size
constexpr size_t kWriteHeadSize = 12;     // header, address
constexpr size_t kDigestSize = 20;
constexpr uint32_t kMaxSkippedPayload = 65536;

enum class WriteTag { Firmware, ProductData };  // "WRTE", "WRTU"

// Each fills out and returns the number of bytes to send; 0 when the
// arguments are out of range (read size 0 or above 4096, digest size 0, a
// range that runs past the 32-bit address space, a write whose length does
// not fit the length field).
size_t EncodeReadRequest(uint32_t address, uint32_t size, uint8_t out[kRangeRequestSize]);
size_t EncodeDigestRequest(uint32_t address, uint32_t size, uint8_t out[kRangeRequestSize]);
size_t EncodeWriteHead(WriteTag tag, uint32_t address, uint32_t size, uint8_t out[kWriteHeadSize]);
size_t EncodeApply(uint8_t out[kStreamHeaderSize]);

enum class ReplyKind { ReadData, Digest, Progress, WriteFinished, WriteError, Other };

struct StreamReply {
  ReplyKind kind = ReplyKind::Other;
  char tag[4] = {};
  uint32_t length = 0;            // payload length as the device sent it
  const uint8_t* data = nullptr;  // ReadData: the data bytes (length - 4); Digest: 20 bytes
  size_t dataSize = 0;            // valid until the next call of Feed
  uint32_t position = 0;          // Progress
};

// Incremental: bytes arrive in pieces of any size (down to single bytes), and
// one piece may hold several messages. A malformed message makes the parser
// fail for good (the stream has lost its framing).
class StreamReplyParser {
 public:
  enum class Step { NeedMore, Reply, Malformed };

  StreamReplyParser();
  // Consumes bytes from p (n of them) up to the end of at most one message,
  // advancing p and n. Reply: out holds the message. NeedMore: every byte was
  // consumed and the message is not complete. Malformed: the parser has failed.
  Step Feed(const uint8_t*& p, size_t& n, StreamReply& out);
  bool failed() const { return failed_; }
  // Bytes of the message under way (0 between messages).
  size_t pending() const { return headerGot_ + payloadGot_; }

 private:
  bool StartPayload();
  Step Finish(StreamReply& out);

  uint8_t header_[kStreamHeaderSize];
  size_t headerGot_ = 0;
  uint32_t length_ = 0;
  ReplyKind kind_ = ReplyKind::Other;
  bool keep_ = false;  // payload is kept (RDAT, DGST, PRGS) or skipped
  std::vector<uint8_t> payload_;
  size_t payloadGot_ = 0;
  bool failed_ = false;
};

// Percentage of a write of size bytes from address that position reports,
// clamped to 0..100 (a device may report anything).
uint32_t ProgressPercent(uint32_t position, uint32_t address, uint32_t size);

}  // namespace qs::fw
