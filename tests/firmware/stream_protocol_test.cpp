// The programming stream's requests (bytes written out by hand from the
// layout), the incremental reply parser, and the bookkeeping of one write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/range_write.h"
#include "firmware/stream_protocol.h"

namespace qs::fw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encoded(size_t (*fn)(uint32_t, uint32_t, uint8_t*), uint32_t a, uint32_t s) {
  uint8_t out[kRangeRequestSize];
  size_t n = fn(a, s, out);
  return Bytes(out, out + n);
}

TEST(StreamRequests, BytesFollowTheLayout) {
  EXPECT_EQ(Encoded(EncodeReadRequest, 0x804000, 512),
            (Bytes{0x08, 0, 0, 0, 'R', 'E', 'A', 'D', 0x00, 0x40, 0x80, 0x00, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Encoded(EncodeDigestRequest, 0x12345678, 0x9ABCDEF0 - 0x12345678),
            (Bytes{0x08, 0, 0, 0, 'D', 'G', 'S', 'T', 0x78, 0x56, 0x34, 0x12, 0x78, 0x88, 0x88, 0x88}));
  uint8_t head[kWriteHeadSize];
  ASSERT_EQ(EncodeWriteHead(WriteTag::Firmware, 0x8000, 0x10000, head), kWriteHeadSize);
  EXPECT_EQ(Bytes(head, head + 12), (Bytes{0x04, 0x00, 0x01, 0x00, 'W', 'R', 'T', 'E', 0x00, 0x80, 0x00, 0x00}));
  ASSERT_EQ(EncodeWriteHead(WriteTag::ProductData, 8405024, 20, head), kWriteHeadSize);
  EXPECT_EQ(Bytes(head, head + 12), (Bytes{0x18, 0, 0, 0, 'W', 'R', 'T', 'U', 0x20, 0x40, 0x80, 0x00}));
  uint8_t appl[kStreamHeaderSize];
  ASSERT_EQ(EncodeApply(appl), kStreamHeaderSize);
  EXPECT_EQ(Bytes(appl, appl + 8), (Bytes{0, 0, 0, 0, 'A', 'P', 'P', 'L'}));
}

TEST(StreamRequests, OutOfRangeArgumentsGiveNothing) {
  uint8_t out[kRangeRequestSize];
  EXPECT_EQ(EncodeReadRequest(0, 0, out), 0u);
  EXPECT_EQ(EncodeReadRequest(0, 4097, out), 0u);
  EXPECT_EQ(EncodeReadRequest(0, 4096, out), kRangeRequestSize);
  EXPECT_EQ(EncodeReadRequest(0xFFFFF000u, 4096, out), kRangeRequestSize);  // ends exactly at 2^32
  EXPECT_EQ(EncodeReadRequest(0xFFFFF001u, 4096, out), 0u);
  EXPECT_EQ(EncodeDigestRequest(0x4000, 0, out), 0u);
  EXPECT_EQ(EncodeDigestRequest(1, 0xFFFFFFFFu, out), kRangeRequestSize);
  EXPECT_EQ(EncodeDigestRequest(2, 0xFFFFFFFFu, out), 0u);
  EXPECT_EQ(EncodeWriteHead(WriteTag::Firmware, 0, 0, out), 0u);
  EXPECT_EQ(EncodeWriteHead(WriteTag::Firmware, 0, 0xFFFFFFFCu, out), 0u);  // length would not fit
  EXPECT_EQ(EncodeWriteHead(WriteTag::Firmware, 0, 0xFFFFFFFBu, out), kWriteHeadSize);
}

Bytes Message(const char* tag, const Bytes& payload, uint32_t length) {
  Bytes m(8 + payload.size());
  for (int i = 0; i < 4; ++i) m[i] = static_cast<uint8_t>(length >> (8 * i));
  std::memcpy(m.data() + 4, tag, 4);
  if (!payload.empty()) std::memcpy(m.data() + 8, payload.data(), payload.size());
  return m;
}
Bytes Message(const char* tag, const Bytes& payload) {
  return Message(tag, payload, static_cast<uint32_t>(payload.size()));
}

struct Seen {
  ReplyKind kind;
  std::string tag;
  uint32_t length;
  Bytes data;
  uint32_t position;
};

// Feeds the stream in pieces of the given size; false when the parser failed.
bool FeedAll(StreamReplyParser& parser, const Bytes& stream, size_t piece, std::vector<Seen>& seen) {
  size_t i = 0;
  while (i < stream.size()) {
    const size_t len = std::min(piece, stream.size() - i);
    const uint8_t* p = stream.data() + i;
    size_t n = len;
    while (n) {
      StreamReply r;
      const auto step = parser.Feed(p, n, r);
      if (step == StreamReplyParser::Step::Malformed) return false;
      if (step == StreamReplyParser::Step::Reply)
        seen.push_back(Seen{r.kind, std::string(r.tag, 4), r.length, Bytes(r.data, r.data + r.dataSize), r.position});
    }
    i += len;
  }
  return true;
}

TEST(StreamReplies, AnyCutOfTheStreamGivesTheSameMessages) {
  Bytes digest(20);
  for (size_t i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(0xA0 + i);
  Bytes rdat{0xEE, 0xEE, 0xEE, 0xEE};
  for (int i = 0; i < 4096; ++i) rdat.push_back(static_cast<uint8_t>(i * 7));
  Bytes stream;
  for (const Bytes& m : {Message("RDAT", rdat), Message("DGST", digest), Message("PRGS", {0x10, 0x20, 0x80, 0x00}),
                         Message("XTRA", Bytes(300, 0x55)), Message("WFIN", {}), Message("ERRO", {'b', 'a', 'd'})})
    stream.insert(stream.end(), m.begin(), m.end());

  for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, size_t{8}, size_t{4096}, stream.size()}) {
    StreamReplyParser parser;
    std::vector<Seen> seen;
    ASSERT_TRUE(FeedAll(parser, stream, piece, seen)) << piece;
    ASSERT_EQ(seen.size(), 6u) << piece;
    EXPECT_EQ(seen[0].kind, ReplyKind::ReadData);
    EXPECT_EQ(seen[0].length, 4100u);
    EXPECT_EQ(seen[0].data, Bytes(rdat.begin() + 4, rdat.end()));  // the 4 leading bytes are dropped
    EXPECT_EQ(seen[1].kind, ReplyKind::Digest);
    EXPECT_EQ(seen[1].data, digest);
    EXPECT_EQ(seen[2].kind, ReplyKind::Progress);
    EXPECT_EQ(seen[2].position, 0x00802010u);
    EXPECT_EQ(seen[3].kind, ReplyKind::Other);
    EXPECT_EQ(seen[3].tag, "XTRA");
    EXPECT_EQ(seen[3].length, 300u);
    EXPECT_EQ(seen[4].kind, ReplyKind::WriteFinished);
    EXPECT_EQ(seen[4].length, 0u);
    EXPECT_EQ(seen[5].kind, ReplyKind::WriteError);
    EXPECT_EQ(parser.pending(), 0u);
  }
}

TEST(StreamReplies, AHalfMessageIsHeldUntilTheRestArrives) {
  StreamReplyParser parser;
  const Bytes m = Message("PRGS", {1, 2, 3, 4});
  const uint8_t* p = m.data();
  size_t n = 10;
  StreamReply r;
  EXPECT_EQ(parser.Feed(p, n, r), StreamReplyParser::Step::NeedMore);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(parser.pending(), 10u);
  n = 2;
  EXPECT_EQ(parser.Feed(p, n, r), StreamReplyParser::Step::Reply);
  EXPECT_EQ(r.position, 0x04030201u);
}

TEST(StreamReplies, MalformedOrOversizedRepliesFailTheStreamForGood) {
  const Bytes bad[] = {
      Message("DGST", Bytes(19)),                     // a digest is 20 bytes
      Message("DGST", Bytes(21)),
      Message("PRGS", Bytes(5)),                      // a position is 4 bytes
      Message("PRGS", {}),
      Message("RDAT", {1, 2, 3}),                     // shorter than its 4 leading bytes
      Message("RDAT", {}, 4101),                      // more than 4096 data bytes
      Message("WFIN", {}, kMaxSkippedPayload + 1),    // absurd lengths are not skipped
      Message("ZZZZ", {}, 0xFFFFFFFFu),
  };
  for (const Bytes& m : bad) {
    StreamReplyParser parser;
    std::vector<Seen> seen;
    EXPECT_FALSE(FeedAll(parser, m, m.size(), seen)) << std::string(m.begin() + 4, m.begin() + 8);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(parser.failed());
    // Nothing gets through afterwards, not even a good message.
    const Bytes good = Message("WFIN", {});
    EXPECT_FALSE(FeedAll(parser, good, good.size(), seen));
    EXPECT_TRUE(seen.empty());
  }
  // The limits themselves pass.
  StreamReplyParser parser;
  std::vector<Seen> seen;
  const Bytes edge = Message("RDAT", {0, 0, 0, 0});
  const Bytes skip = Message("ERRO", Bytes(kMaxSkippedPayload, 1));
  EXPECT_TRUE(FeedAll(parser, edge, 5, seen));
  EXPECT_TRUE(FeedAll(parser, skip, 1000, seen));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].data.empty());
  EXPECT_EQ(seen[1].length, kMaxSkippedPayload);
}

TEST(StreamReplies, ProgressPercentIsClampedToTheRange) {
  EXPECT_EQ(ProgressPercent(0x8000, 0x8000, 1000), 0u);
  EXPECT_EQ(ProgressPercent(0x8000 + 500, 0x8000, 1000), 50u);
  EXPECT_EQ(ProgressPercent(0x8000 + 999, 0x8000, 1000), 99u);
  EXPECT_EQ(ProgressPercent(0x8000 + 1000, 0x8000, 1000), 100u);
  EXPECT_EQ(ProgressPercent(0x7000, 0x8000, 1000), 0u);        // below the range
  EXPECT_EQ(ProgressPercent(0xFFFFFFFF, 0x8000, 1000), 100u);  // beyond it
  EXPECT_EQ(ProgressPercent(0xFFFFFFFF, 0, 0xFFFFFFFF), 100u); // no overflow
  EXPECT_EQ(ProgressPercent(0x7FFFFFFF, 0, 0xFFFFFFFF), 49u);
}

StreamReply Reply(ReplyKind kind, uint32_t position = 0) {
  StreamReply r;
  r.kind = kind;
  r.position = position;
  return r;
}

TEST(RangeWrite, PiecesAndTheEndOfAWrite) {
  RangeWrite w(0x10000, 40000);
  size_t offset = 99;
  EXPECT_EQ(w.NextPiece(offset), 16384u);
  EXPECT_EQ(offset, 0u);
  w.Sent(10000);  // a short send
  EXPECT_EQ(w.NextPiece(offset), 16384u);
  EXPECT_EQ(offset, 10000u);
  w.Sent(16384);
  EXPECT_EQ(w.NextPiece(offset), 40000u - 10000 - 16384);
  EXPECT_EQ(offset, 26384u);
  EXPECT_FALSE(w.AllSent());
  w.Sent(100000);  // never beyond the end
  EXPECT_TRUE(w.AllSent());
  EXPECT_EQ(w.NextPiece(offset), 0u);

  uint32_t percent = 0;
  EXPECT_EQ(w.OnReply(Reply(ReplyKind::Progress, 0x10000 + 20000), percent), RangeWrite::Event::Progress);
  EXPECT_EQ(percent, 50u);
  EXPECT_EQ(w.OnReply(Reply(ReplyKind::WriteFinished), percent), RangeWrite::Event::None);
  EXPECT_FALSE(w.Succeeded());  // the last position is not yet the end
  EXPECT_EQ(w.OnReply(Reply(ReplyKind::Other), percent), RangeWrite::Event::None);
  EXPECT_EQ(w.OnReply(Reply(ReplyKind::Progress, 0x10000 + 40000), percent), RangeWrite::Event::Progress);
  EXPECT_EQ(percent, 100u);
  EXPECT_TRUE(w.Succeeded());
}

TEST(RangeWrite, NotDoneBeforeEverythingIsSentAndFailsOnError) {
  RangeWrite w(0, 100);
  uint32_t percent = 0;
  w.OnReply(Reply(ReplyKind::Progress, 100), percent);
  w.OnReply(Reply(ReplyKind::WriteFinished), percent);
  EXPECT_FALSE(w.Succeeded());  // the device claims more than was sent
  w.Sent(100);
  EXPECT_TRUE(w.Succeeded());

  RangeWrite e(0, 100);
  e.Sent(100);
  EXPECT_EQ(e.OnReply(Reply(ReplyKind::WriteError), percent), RangeWrite::Event::DeviceError);
  EXPECT_TRUE(e.Failed());
  EXPECT_FALSE(e.Succeeded());
}

}  // namespace
}  // namespace qs::fw
