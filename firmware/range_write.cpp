#include "firmware/range_write.h"

#include <algorithm>

namespace qs::fw {

size_t RangeWrite::NextPiece(size_t& offset) const {
  offset = sent_;
  return std::min(kWritePieceSize, size_ - sent_);
}

void RangeWrite::Sent(size_t n) { sent_ += std::min(n, size_ - sent_); }

RangeWrite::Event RangeWrite::OnReply(const StreamReply& reply, uint32_t& percent) {
  switch (reply.kind) {
    case ReplyKind::Progress:
      position_ = reply.position;
      havePosition_ = true;
      percent = ProgressPercent(position_, address_, size_);
      return Event::Progress;
    case ReplyKind::WriteFinished:
      finished_ = true;
      return Event::None;
    case ReplyKind::WriteError:
      error_ = true;
      return Event::DeviceError;
    default:
      return Event::None;
  }
}

}  // namespace qs::fw
