#include "firmware/stream_protocol.h"

#include <algorithm>
#include <cstring>

#include "runtime/bytes.h"

namespace qs::fw {

namespace {

constexpr uint32_t kMaxReadPayload = kMaxReadSize + 4;

void PutHeader(uint8_t* out, uint32_t length, const char tag[4]) {
  bytes::PutLe32(out, length);
  std::memcpy(out + 4, tag, 4);
}

bool RangeFits(uint32_t address, uint32_t size) { return uint64_t{address} + size <= 0x100000000ull; }

size_t EncodeRange(const char tag[4], uint32_t address, uint32_t size, uint8_t* out) {
  PutHeader(out, 8, tag);
  bytes::PutLe32(out + 8, address);
  bytes::PutLe32(out + 12, size);
  return kRangeRequestSize;
}

bool TagIs(const uint8_t* t, const char* name) { return std::memcmp(t, name, 4) == 0; }

}  // namespace

size_t EncodeReadRequest(uint32_t address, uint32_t size, uint8_t out[kRangeRequestSize]) {
  if (size == 0 || size > kMaxReadSize || !RangeFits(address, size)) return 0;
  return EncodeRange("READ", address, size, out);
}

size_t EncodeDigestRequest(uint32_t address, uint32_t size, uint8_t out[kRangeRequestSize]) {
  if (size == 0 || !RangeFits(address, size)) return 0;
  return EncodeRange("DGST", address, size, out);
}

size_t EncodeWriteHead(WriteTag tag, uint32_t address, uint32_t size, uint8_t out[kWriteHeadSize]) {
  if (size == 0 || size > 0xFFFFFFFFu - 4 || !RangeFits(address, size)) return 0;
  PutHeader(out, size + 4, tag == WriteTag::Firmware ? "WRTE" : "WRTU");
  bytes::PutLe32(out + 8, address);
  return kWriteHeadSize;
}

size_t EncodeApply(uint8_t out[kStreamHeaderSize]) {
  PutHeader(out, 0, "APPL");
  return kStreamHeaderSize;
}

StreamReplyParser::StreamReplyParser() { payload_.reserve(kMaxReadPayload); }

bool StreamReplyParser::StartPayload() {
  length_ = bytes::GetLe32(header_);
  const uint8_t* tag = header_ + 4;
  keep_ = true;
  if (TagIs(tag, "RDAT")) {
    kind_ = ReplyKind::ReadData;
    if (length_ < 4 || length_ > kMaxReadPayload) return false;
  } else if (TagIs(tag, "DGST")) {
    kind_ = ReplyKind::Digest;
    if (length_ != kDigestSize) return false;
  } else if (TagIs(tag, "PRGS")) {
    kind_ = ReplyKind::Progress;
    if (length_ != 4) return false;
  } else {
    kind_ = TagIs(tag, "WFIN") ? ReplyKind::WriteFinished
            : TagIs(tag, "ERRO") ? ReplyKind::WriteError
                                 : ReplyKind::Other;
    keep_ = false;
    if (length_ > kMaxSkippedPayload) return false;
  }
  payload_.assign(keep_ ? length_ : 0, 0);
  payloadGot_ = 0;
  return true;
}

StreamReplyParser::Step StreamReplyParser::Finish(StreamReply& out) {
  out = StreamReply{};
  out.kind = kind_;
  std::memcpy(out.tag, header_ + 4, 4);
  out.length = length_;
  switch (kind_) {
    case ReplyKind::ReadData:
      out.data = payload_.data() + 4;
      out.dataSize = length_ - 4;
      break;
    case ReplyKind::Digest:
      out.data = payload_.data();
      out.dataSize = kDigestSize;
      break;
    case ReplyKind::Progress:
      out.position = bytes::GetLe32(payload_.data());
      break;
    default:
      break;
  }
  headerGot_ = 0;
  payloadGot_ = 0;
  return Step::Reply;
}

StreamReplyParser::Step StreamReplyParser::Feed(const uint8_t*& p, size_t& n, StreamReply& out) {
  if (failed_) return Step::Malformed;
  if (headerGot_ < kStreamHeaderSize) {
    const size_t take = std::min(n, kStreamHeaderSize - headerGot_);
    if (take) std::memcpy(header_ + headerGot_, p, take);
    headerGot_ += take;
    p += take;
    n -= take;
    if (headerGot_ < kStreamHeaderSize) return Step::NeedMore;
    if (!StartPayload()) {
      failed_ = true;
      return Step::Malformed;
    }
  }
  const size_t take = std::min<size_t>(n, length_ - payloadGot_);
  if (keep_ && take) std::memcpy(payload_.data() + payloadGot_, p, take);
  payloadGot_ += take;
  p += take;
  n -= take;
  if (payloadGot_ < length_) return Step::NeedMore;
  return Finish(out);
}

uint32_t ProgressPercent(uint32_t position, uint32_t address, uint32_t size) {
  if (size == 0 || position <= address) return 0;
  const uint64_t done = uint64_t{position} - address;
  if (done >= size) return 100;
  return static_cast<uint32_t>(done * 100 / size);
}

}  // namespace qs::fw
