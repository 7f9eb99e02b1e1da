// Both readers on hand-made text: record rules, chunk building, line reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "firmware/byte_source.h"
#include "firmware/hex_line_reader.h"
#include "firmware/intellec_hex.h"
#include "firmware/motorola_hex.h"
#include "tests/firmware/fw_test_util.h"

namespace qs::fw::test {
namespace {

Ref<IBinaryImage> LoadIntel(const std::string& text) {
  TempFile f(text);
  return Ref<IBinaryImage>::Adopt(IntellecHex::Load(f.path()));
}
Ref<IBinaryImage> LoadS(const std::string& text) {
  TempFile f(text);
  return Ref<IBinaryImage>::Adopt(MotorolaHex::Load(f.path()));
}

const Bytes kA = Pattern(16, 1), kB = Pattern(16, 2), kC = Pattern(7, 3);
std::string S1(uint16_t a, const Bytes& d) { return SLine(1, a, 2, d); }

TEST(IntelHex, OutOfOrderRecordsGiveTheChunksOfTheSortedFile) {
  auto sorted = LoadIntel(Lines({IntelData(0x100, kA), IntelData(0x110, kB), IntelData(0x200, kC), IntelEnd()}));
  auto shuffled = LoadIntel(Lines({IntelData(0x200, kC), IntelData(0x110, kB), IntelData(0x100, kA), IntelEnd()}));
  ASSERT_TRUE(sorted && shuffled);
  Bytes ab = kA;
  ab.insert(ab.end(), kB.begin(), kB.end());
  std::vector<ChunkCopy> want{{0x100, ab}, {0x200, kC}};
  EXPECT_EQ(Chunks(sorted.get()), want);
  EXPECT_EQ(Chunks(shuffled.get()), want);
}

TEST(IntelHex, BlocksInDescendingOrder) {
  Bytes big = Pattern(100, 8);
  auto img = LoadIntel(Lines({IntelBase(4, 2), IntelData(0x0, kA), IntelData(0x10, kB), IntelBase(4, 0),
                              IntelData(0x500, big), IntelData(0x100, kC), IntelEnd()}));
  ASSERT_TRUE(img);
  Bytes ab = kA;
  ab.insert(ab.end(), kB.begin(), kB.end());
  std::vector<ChunkCopy> want{{0x100, kC}, {0x500, big}, {0x20000, ab}};
  EXPECT_EQ(Chunks(img.get()), want);
}

TEST(IntelHex, TouchingRecordsJoinAndAOneByteGapSplits) {
  auto img = LoadIntel(Lines({IntelData(0x10, kA), IntelData(0x20, kB), IntelData(0x31, kC), IntelEnd()}));
  ASSERT_TRUE(img);
  auto c = Chunks(img.get());
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].start, 0x10u);
  EXPECT_EQ(c[0].data.size(), 32u);
  EXPECT_EQ(c[1].start, 0x31u);  // 0x30 stays a hole, nothing filled
  EXPECT_EQ(c[1].data, kC);
  IBinaryImageChunk* ch = nullptr;
  ASSERT_TRUE(img->GetChunk(0, &ch));
  EXPECT_EQ(ch->GetEndAddress(), 0x2Fu);
  ch->Release();
  EXPECT_FALSE(img->GetChunk(2, &ch));
  EXPECT_EQ(ch, nullptr);
}

TEST(IntelHex, OverlappingRecordsNeverShareAChunk) {
  auto img = LoadIntel(Lines({IntelData(0x100, kA), IntelData(0x108, kA), IntelEnd()}));
  ASSERT_TRUE(img);
  auto c = Chunks(img.get());
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0], (ChunkCopy{0x100, kA}));
  EXPECT_EQ(c[1], (ChunkCopy{0x108, kA}));
}

TEST(IntelHex, EndRecordNeededWithItsLineTerminator) {
  std::string body = IntelData(0, kA) + "\n";
  EXPECT_FALSE(LoadIntel(body + IntelEnd()));
  EXPECT_FALSE(LoadIntel(body));
  EXPECT_TRUE(LoadIntel(body + IntelEnd() + "\n"));
  EXPECT_TRUE(LoadIntel(body + IntelEnd() + "\r"));
  // Whatever follows the end record is never read.
  EXPECT_TRUE(LoadIntel(body + IntelEnd() + "\nnot a record\n"));
}

TEST(IntelHex, ExtendedAddressesReplaceTheBase) {
  auto img = LoadIntel(Lines({IntelBase(2, 0x1234), IntelData(0x10, kA),   // 0x12340 + 0x10
                              IntelBase(4, 0x0800), IntelData(0x10, kB),   // linear cancels segment
                              IntelBase(2, 0x0001), IntelData(0x0, kC),    // segment replaces linear
                              IntelBase(4, 0xFFFF), IntelData(0xFFF0, kA), // last 16 bytes of the space
                              IntelLine(3, 0, Bytes{0, 0, 0x12, 0x34}), IntelLine(5, 0, Bytes{1, 2, 3, 4}),
                              IntelEnd()}));
  ASSERT_TRUE(img);
  std::vector<ChunkCopy> want{{0x10, kC}, {0x12350, kA}, {0x08000010, kB}, {0xFFFFFFF0, kA}};
  EXPECT_EQ(Chunks(img.get()), want);
}

// A data record is placed at base + its 16-bit address and runs on linearly:
// across a 64 KiB boundary, and past 1 MiB under a segment base; the record
// after the boundary joins it.
TEST(IntelHex, DataRecordsRunOnAcrossBoundaries) {
  Bytes ab = kA;
  ab.insert(ab.end(), kB.begin(), kB.end());
  auto linear = LoadIntel(Lines({IntelBase(4, 0x0001), IntelData(0xFFF8, kA), IntelBase(4, 0x0002),
                                 IntelData(0x0008, kB), IntelEnd()}));
  ASSERT_TRUE(linear);
  EXPECT_EQ(Chunks(linear.get()), (std::vector<ChunkCopy>{{0x1FFF8, ab}}));
  auto segment = LoadIntel(Lines({IntelBase(2, 0xF000), IntelData(0xFFF8, kA), IntelBase(2, 0xF001),
                                  IntelData(0xFFF8, kB), IntelEnd()}));
  ASSERT_TRUE(segment);
  EXPECT_EQ(Chunks(segment.get()), (std::vector<ChunkCopy>{{0xFFFF8, ab}}));
  auto s3 = LoadS(Lines({SLine(3, 0x1FFF8, 4, kA), SLine(3, 0x20008, 4, kB), SLine(7, 0, 4, {})}));
  ASSERT_TRUE(s3);
  EXPECT_EQ(Chunks(s3.get()), (std::vector<ChunkCopy>{{0x1FFF8, ab}}));
}

TEST(IntelHex, RecordRunningPastTheAddressSpaceFails) {
  EXPECT_FALSE(LoadIntel(Lines({IntelBase(4, 0xFFFF), IntelData(0xFFF8, kA), IntelEnd()})));
}

TEST(IntelHex, FullRecordsLowerCaseAndBlankLines) {
  Bytes big = Pattern(255, 9);
  std::string lower = IntelData(0x40, kA);
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  auto img = LoadIntel(IntelData(0x1000, big) + "\r\n\r\n\n" + lower + "\n\r" + IntelEnd() + "\r\n");
  ASSERT_TRUE(img);
  std::vector<ChunkCopy> want{{0x40, kA}, {0x1000, big}};
  EXPECT_EQ(Chunks(img.get()), want);
}

TEST(IntelHex, MalformedLinesRejectTheFile) {
  const std::string end = IntelEnd() + "\n";
  const std::vector<std::string> bad = {
      "    ",                              // a line of spaces
      ":",                                 // the mark alone
      "10000000",                          // no mark
      IntelData(0, kA) + "0",              // odd digit count
      IntelData(0, kA).replace(9, 1, "G"), // not a hex digit
      IntelData(0, kA).replace(9, 1, " "),
      IntelLine(0, 0, kA, 1),              // checksum
      ":0500000000FB",                     // count says 5, no data bytes
      IntelLine(6, 0, {}),                 // type above 5
      IntelLine(2, 0, Bytes{0x12}),        // base with one byte
      IntelLine(4, 0, {}),
      IntelLine(3, 0, Bytes{1, 2}),        // start address too short
  };
  for (const std::string& line : bad) {
    EXPECT_FALSE(LoadIntel(IntelData(0, kA) + "\n" + line + "\n" + end)) << line;
  }
  EXPECT_TRUE(LoadIntel(IntelData(0, kA) + "\n" + end));
}

TEST(IntelHex, NulEndsTheText) {
  std::string text = Lines({IntelData(0, kA), IntelEnd()});
  EXPECT_FALSE(LoadIntel(IntelData(0, kA) + "\n" + std::string(1, '\0') + IntelEnd() + "\n"));
  EXPECT_FALSE(LoadIntel(IntelData(0, kA) + std::string(1, '\0') + "\n" + IntelEnd() + "\n"));
  EXPECT_TRUE(LoadIntel(text + std::string(1, '\0') + "garbage"));
}

TEST(IntelHex, LineAsLongAsTheBufferEndsTheText) {
  std::string longLine(HexLineReader::kBufferSize, '0');
  EXPECT_FALSE(LoadIntel(Lines({IntelData(0, kA), longLine, IntelEnd()})));
  // One shorter fits the buffer: read, and then rejected as a record.
  longLine.pop_back();
  std::string text = Lines({IntelData(0, kA), longLine, IntelEnd()});
  MemoryByteSource src(text.data(), text.size());
  HexLineReader r(src);
  std::string_view line;
  ASSERT_TRUE(r.Next(line));
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line.size(), longLine.size());
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line, IntelEnd());
  EXPECT_FALSE(r.Next(line));
}

// Line ends that straddle a refill, for every split position near the buffer's
// end: the lines read must be the lines written.
TEST(HexLineReaderTest, TerminatorsAcrossRefills) {
  // The first line is 16340..16383 bytes long: its CR or LF falls at, or
  // just beyond, the end of the first fill.
  for (size_t pad = 0; pad < 44; ++pad) {
    std::string text(HexLineReader::kBufferSize - 44 + pad, 'A');
    text += "\r\n";
    std::vector<std::string> want{text.substr(0, text.size() - 2)};
    for (int i = 0; i < 5; ++i) {
      std::string l = ":" + std::to_string(i * 7919);
      text += l + (i % 2 ? "\n\r\n" : "\r\n");
      want.push_back(l);
    }
    MemoryByteSource src(text.data(), text.size());
    HexLineReader r(src);
    std::vector<std::string> got;
    std::string_view line;
    while (r.Next(line)) got.emplace_back(line);
    EXPECT_EQ(got, want) << "pad " << pad;
  }
}

TEST(IntelHex, ManyRecordsAcrossManyRefills) {
  std::vector<ChunkCopy> pieces{{0x3000, Pattern(70000, 4)}, {0x20000, Pattern(5000, 5)}};
  std::string text = IntelText(pieces);
  ASSERT_GT(text.size(), 8 * HexLineReader::kBufferSize);
  auto img = LoadIntel(text);
  ASSERT_TRUE(img);
  EXPECT_EQ(Chunks(img.get()), pieces);
}

TEST(IntelHex, LimitBoundsTheImage) {
  std::string text = IntelText({{0, Pattern(4096, 6)}});
  MemoryByteSource small(text.data(), text.size());
  EXPECT_EQ(IntellecHex::LoadFrom(small, u"mem", 2048), nullptr);
  MemoryByteSource enough(text.data(), text.size());
  Ref<IBinaryImage> img = Ref<IBinaryImage>::Adopt(IntellecHex::LoadFrom(enough, u"mem", 8192));
  EXPECT_TRUE(img);
  // Few bytes in many separate records: each chunk has a cost of its own.
  std::vector<std::string> lines;
  for (uint16_t i = 0; i < 200; ++i) lines.push_back(IntelData(static_cast<uint16_t>(i * 2), Bytes{1}));
  lines.push_back(IntelEnd());
  std::string sparse = Lines(lines);
  MemoryByteSource sparseSrc(sparse.data(), sparse.size());
  EXPECT_EQ(IntellecHex::LoadFrom(sparseSrc, u"mem", 8192), nullptr);
  MemoryByteSource sparseBig(sparse.data(), sparse.size());
  img = Ref<IBinaryImage>::Adopt(IntellecHex::LoadFrom(sparseBig, u"mem", 1 << 20));
  ASSERT_TRUE(img);
  EXPECT_EQ(img->GetChunkCount(), 200);
}

// A whole image written backwards, one 16-byte record after the other: the
// chunk of the sorted file, within a limit that holds little more than the
// bytes (each record leads into the run after it: one run, not one per record).
TEST(IntelHex, DescendingRecordsWithinTheLimit) {
  Bytes all = Pattern(4096, 11);
  std::vector<std::string> lines{IntelBase(4, 0x0010)};
  for (size_t at = all.size(); at > 0; at -= 16)
    lines.push_back(IntelData(static_cast<uint16_t>(at - 16), Bytes(all.begin() + (at - 16), all.begin() + at)));
  lines.push_back(IntelEnd());
  std::string text = Lines(lines, "\n");
  MemoryByteSource src(text.data(), text.size());
  Ref<IBinaryImage> img = Ref<IBinaryImage>::Adopt(IntellecHex::LoadFrom(src, u"mem", all.size() + 256));
  ASSERT_TRUE(img);
  EXPECT_EQ(Chunks(img.get()), (std::vector<ChunkCopy>{{0x100000, all}}));
}

// Reads one text, and another after Rewind: a file changed between readings.
class TwoTexts final : public ByteSource {
 public:
  TwoTexts(std::string first, std::string second, bool canRewind = true)
      : first_(std::move(first)), second_(std::move(second)), canRewind_(canRewind) {}
  long long Read(void* buf, size_t len) override {
    const std::string& t = rewinds == 0 ? first_ : second_;
    size_t n = std::min(len, t.size() - pos_);
    std::memcpy(buf, t.data() + pos_, n);
    pos_ += n;
    return static_cast<long long>(n);
  }
  long long Size() const override { return static_cast<long long>(first_.size()); }
  bool Rewind() override {
    ++rewinds;
    pos_ = 0;
    return canRewind_;
  }
  int rewinds = 0;

 private:
  std::string first_, second_;
  size_t pos_ = 0;
  bool canRewind_;
};

// Records that touch but lie apart in the file are laid out by a second
// reading; anything but the same records in the same places then fails.
TEST(Readers, SecondReadingMustMatchTheFirst) {
  const Bytes kD = Pattern(16, 4), kE = Pattern(16, 5);
  auto text = [](const Bytes& top, std::vector<std::string> more = {}) {
    std::vector<std::string> l{IntelData(0x20, top), IntelData(0x10, kB), IntelData(0x00, kA)};
    l.insert(l.end(), more.begin(), more.end());
    l.push_back(IntelEnd());
    return Lines(l);
  };
  const std::string first = text(kD);
  auto load = [&](TwoTexts& src) { return Ref<IBinaryImage>::Adopt(IntellecHex::LoadFrom(src, u"mem")); };

  TwoTexts same(first, first);
  auto img = load(same);
  ASSERT_TRUE(img);
  EXPECT_EQ(same.rewinds, 1);
  Bytes all = kA;
  all.insert(all.end(), kB.begin(), kB.end());
  all.insert(all.end(), kD.begin(), kD.end());
  EXPECT_EQ(Chunks(img.get()), (std::vector<ChunkCopy>{{0, all}}));

  // Other bytes in the same places: the image is the second text, whole.
  TwoTexts newBytes(first, text(kE));
  img = load(newBytes);
  ASSERT_TRUE(img);
  std::copy(kE.begin(), kE.end(), all.begin() + 0x20);
  EXPECT_EQ(Chunks(img.get()), (std::vector<ChunkCopy>{{0, all}}));

  const std::vector<std::string> changed = {
      Lines({IntelData(0x20, kD), IntelData(0x10, kB), IntelEnd()}),                      // a record gone
      text(kD, {IntelData(0x40, kA)}),                                                     // one more
      Lines({IntelData(0x00, kA), IntelData(0x20, kD), IntelData(0x10, kB), IntelEnd()}),  // order
      Lines({IntelData(0x20, kD), IntelData(0x11, kB), IntelData(0x00, kA), IntelEnd()}),  // place
      Lines({IntelData(0x20, kD), IntelData(0x10, kB), IntelData(0x00, kA)}),              // no end
      Lines({IntelData(0x20, kD), IntelData(0x10, kB), IntelData(0x00, kC), IntelEnd()}),  // shorter
  };
  for (const std::string& second : changed) {
    TwoTexts src(first, second);
    EXPECT_FALSE(load(src)) << second;
  }
  TwoTexts noRewind(first, first, false);
  EXPECT_FALSE(load(noRewind));
}

// An ordered file, or blocks out of order that touch no other block, is read
// once: its bytes are already in chunk order.
TEST(Readers, OneReadingWhenTheBytesAreInChunkOrder) {
  for (const std::string& t : {Lines({IntelData(0x00, kA), IntelData(0x10, kB), IntelData(0x40, kC), IntelEnd()}),
                               Lines({IntelData(0x40, kA), IntelData(0x50, kB), IntelData(0x00, kC), IntelEnd()}),
                               Lines({IntelData(0x00, kA), IntelData(0x08, kB), IntelEnd()})}) {
    TwoTexts src(t, "");
    EXPECT_TRUE(Ref<IBinaryImage>::Adopt(IntellecHex::LoadFrom(src, u"mem"))) << t;
    EXPECT_EQ(src.rewinds, 0) << t;
  }
  std::string s = Lines({S1(0x20, kB), S1(0x10, kA), SLine(9, 0, 2, {})});
  TwoTexts src(s, s);
  auto img = Ref<IBinaryImage>::Adopt(MotorolaHex::LoadFrom(src, u"mem"));
  ASSERT_TRUE(img);
  EXPECT_EQ(src.rewinds, 1);
  Bytes ab = kA;
  ab.insert(ab.end(), kB.begin(), kB.end());
  EXPECT_EQ(Chunks(img.get()), (std::vector<ChunkCopy>{{0x10, ab}}));
}

TEST(IntelHex, MissingFileFails) {
  EXPECT_EQ(IntellecHex::Load(u"/nonexistent/qs-firmware.hex"), nullptr);
  EXPECT_EQ(MotorolaHex::Load(u"/nonexistent/qs-firmware.s19"), nullptr);
}

TEST(SRecord, AllThreeWidthsAndTheirTerminations) {
  Bytes full = Pattern(252, 7);  // count 0xFF with a 16-bit address
  for (const std::string& term : {SLine(9, 0, 2, {}), SLine(8, 0x123456, 3, {}), SLine(7, 0x12345678, 4, {})}) {
    auto img = LoadS(Lines({SLine(0, 0, 2, Bytes{'h', 'd', 'r'}), S1(0x0100, full), SLine(2, 0xABCDEF, 3, kA),
                            SLine(3, 0xFFFFFFF0, 4, kB), term}));
    ASSERT_TRUE(img) << term;
    std::vector<ChunkCopy> want{{0x100, full}, {0xABCDEF, kA}, {0xFFFFFFF0, kB}};
    EXPECT_EQ(Chunks(img.get()), want);
  }
}

TEST(SRecord, OutOfOrderAndTouching) {
  auto img = LoadS(Lines({S1(0x20, kB), S1(0x10, kA), S1(0x31, kC), SLine(9, 0, 2, {})}, "\n"));
  ASSERT_TRUE(img);
  Bytes ab = kA;
  ab.insert(ab.end(), kB.begin(), kB.end());
  std::vector<ChunkCopy> want{{0x10, ab}, {0x31, kC}};
  EXPECT_EQ(Chunks(img.get()), want);
}

TEST(SRecord, TerminationIsRequired) {
  EXPECT_FALSE(LoadS(Lines({S1(0, kA), SLine(5, 1, 2, {})})));
  EXPECT_FALSE(LoadS(Lines({S1(0, kA)})));
  EXPECT_FALSE(LoadS(S1(0, kA) + "\n" + SLine(9, 0, 2, {})));  // no terminator after it
}

// Count records, as common tools write them before the termination: checked,
// not refused.
TEST(SRecord, CountRecordsAreChecked) {
  EXPECT_TRUE(LoadS(Lines({S1(0, kA), S1(0x10, kB), SLine(5, 2, 2, {}), SLine(9, 0, 2, {})})));
  EXPECT_TRUE(LoadS(Lines({S1(0, kA), SLine(6, 1, 3, {}), SLine(9, 0, 2, {})})));
  EXPECT_FALSE(LoadS(Lines({S1(0, kA), S1(0x10, kB), SLine(5, 3, 2, {}), SLine(9, 0, 2, {})})));
  EXPECT_FALSE(LoadS(Lines({S1(0, kA), SLine(5, 1, 3, {}), SLine(9, 0, 2, {})})));  // S5 with 24 bits
}

TEST(SRecord, MalformedLinesRejectTheFile) {
  const std::string end = SLine(9, 0, 2, {}) + "\n";
  const std::vector<std::string> bad = {
      SLine(0, 0, 2, Bytes{'x'}, 1),  // header with a bad checksum
      SLine(9, 0, 3, {}),             // S9 whose count is not 3
      SLine(8, 0, 2, {}),
      SLine(7, 0, 3, {}),
      SLine(4, 0, 2, kA),
      SLine(1, 0, 2, kA, -1),
      SLine(1, 0, 1, {}),  // count below address plus checksum
      SLine(2, 0, 2, {}),
      SLine(3, 0, 3, {}),
      "S",
      "S1",
      "SX0300FC",
      "  S9030000FC",
      SLine(1, 0, 2, kA) + "F",
      "S10300",  // count says more than there is
  };
  for (const std::string& line : bad) {
    EXPECT_FALSE(LoadS(S1(0x40, kA) + "\n" + line + "\n" + end)) << line;
  }
  EXPECT_TRUE(LoadS(S1(0x40, kA) + "\n" + SLine(0, 0, 2, Bytes{'x'}) + "\n" + end));
}

TEST(Readers, EachRefusesTheOtherFormat) {
  std::string s = Lines({S1(0, kA), SLine(9, 0, 2, {})});
  std::string i = Lines({IntelData(0, kA), IntelEnd()});
  EXPECT_FALSE(LoadIntel(s));
  EXPECT_FALSE(LoadS(i));
  EXPECT_TRUE(LoadIntel(i));
  EXPECT_TRUE(LoadS(s));
}

}  // namespace
}  // namespace qs::fw::test
