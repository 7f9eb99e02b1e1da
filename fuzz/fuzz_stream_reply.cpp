// The programming stream's reply parser over arbitrary bytes cut into pieces
// of arbitrary sizes: every reply stays inside its bounds, the same stream
// cut differently gives the same replies, and a write's bookkeeping follows.
// Input: [piece size byte] then the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/range_write.h"
#include "firmware/stream_protocol.h"

namespace {

using namespace qs::fw;

struct Got {
  ReplyKind kind;
  uint32_t length;
  std::vector<uint8_t> data;
  uint32_t position;
};

bool Parse(const uint8_t* data, size_t size, size_t piece, std::vector<Got>& out) {
  StreamReplyParser parser;
  size_t i = 0;
  while (i < size) {
    const size_t len = piece < size - i ? piece : size - i;
    const uint8_t* p = data + i;
    size_t n = len;
    while (n) {
      StreamReply r;
      const size_t before = n;
      const auto step = parser.Feed(p, n, r);
      if (step == StreamReplyParser::Step::Malformed) {
        if (!parser.failed()) std::abort();
        return false;
      }
      if (step == StreamReplyParser::Step::NeedMore && n != 0) std::abort();
      if (step == StreamReplyParser::Step::Reply) {
        if (n > before) std::abort();
        switch (r.kind) {
          case ReplyKind::ReadData:
            if (r.length < 4 || r.length > kMaxReadSize + 4 || r.dataSize != r.length - 4) std::abort();
            break;
          case ReplyKind::Digest:
            if (r.length != 20 || r.dataSize != 20) std::abort();
            break;
          case ReplyKind::Progress:
            if (r.length != 4) std::abort();
            break;
          default:
            if (r.length > kMaxSkippedPayload || r.data) std::abort();
        }
        out.push_back(Got{r.kind, r.length, std::vector<uint8_t>(r.data, r.data + r.dataSize), r.position});
      }
    }
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = data[0] % 32 + 1;
  std::vector<Got> a, b;
  const bool okA = Parse(data + 1, size - 1, piece, a);
  const bool okB = Parse(data + 1, size - 1, size, b);
  if (okA != okB || a.size() != b.size()) std::abort();
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].kind != b[i].kind || a[i].length != b[i].length || a[i].data != b[i].data ||
        a[i].position != b[i].position)
      std::abort();
  RangeWrite w(0x8000, 70000);
  w.Sent(70000);
  for (const Got& g : a) {
    StreamReply r;
    r.kind = g.kind;
    r.position = g.position;
    uint32_t percent = 0;
    if (w.OnReply(r, percent) == RangeWrite::Event::Progress && percent > 100) std::abort();
  }
  return 0;
}
