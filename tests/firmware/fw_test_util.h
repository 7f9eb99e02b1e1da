// Helpers of the firmware tests: hand-made record lines with correct (or
// deliberately wrong) checksums, temporary files, and images built in memory.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "firmware/binary_image.h"
#include "platform/file.h"
#include "platform/text.h"

namespace qs::fw::test {

using Bytes = std::vector<uint8_t>;

inline std::string HexOf(const Bytes& b) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t v : b) {
    s.push_back(kHex[v >> 4]);
    s.push_back(kHex[v & 15]);
  }
  return s;
}

// ":" count address type data checksum; sumDelta spoils the checksum.
inline std::string IntelLine(uint8_t type, uint16_t address, const Bytes& data, int sumDelta = 0) {
  Bytes b{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), type};
  b.insert(b.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t v : b) sum = static_cast<uint8_t>(sum + v);
  b.push_back(static_cast<uint8_t>(-sum + sumDelta));
  return ":" + HexOf(b);
}
inline std::string IntelData(uint16_t address, const Bytes& data) { return IntelLine(0, address, data); }
inline std::string IntelBase(uint8_t type, uint16_t value) {
  return IntelLine(type, 0, Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}
inline std::string IntelEnd() { return ":00000001FF"; }

// "S" digit count address data checksum; the address takes width bytes.
inline std::string SLine(int digit, uint32_t address, int width, const Bytes& data, int sumDelta = 0) {
  Bytes b{static_cast<uint8_t>(width + data.size() + 1)};
  for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(address >> (8 * i)));
  b.insert(b.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t v : b) sum = static_cast<uint8_t>(sum + v);
  b.push_back(static_cast<uint8_t>(0xFF - sum + sumDelta));
  return "S" + std::to_string(digit) + HexOf(b);
}

inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

inline std::string Lines(const std::vector<std::string>& lines, const char* eol = "\r\n") {
  std::string s;
  for (const auto& l : lines) s += l + eol;
  return s;
}

// A file in the temporary folder, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    EXPECT_TRUE(plat::MakeTempFile(u"qsfw", path_));
    plat::File f;
    EXPECT_TRUE(f.OpenWrite(path_, false));
    EXPECT_TRUE(f.Write(content.data(), content.size()));
  }
  ~TempFile() { plat::DeleteFilePath(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::u16string& path() const { return path_; }

 private:
  std::u16string path_;
};

struct ChunkCopy {
  uint32_t start;
  Bytes data;
  bool operator==(const ChunkCopy& o) const { return start == o.start && data == o.data; }
};

inline std::vector<ChunkCopy> Chunks(IBinaryImage* image) {
  std::vector<ChunkCopy> out;
  for (int32_t i = 0; i < image->GetChunkCount(); ++i) {
    IBinaryImageChunk* c = nullptr;
    EXPECT_TRUE(image->GetChunk(i, &c));
    if (!c) break;
    const uint8_t* d = c->GetData();
    out.push_back(ChunkCopy{c->GetStartAddress(), Bytes(d, d + ChunkSize(c))});
    c->Release();
  }
  return out;
}

// An Intel HEX text naming each piece (address, bytes) with linear bases and
// records of at most 32 bytes that never cross a 64 KiB boundary.
inline std::string IntelText(const std::vector<ChunkCopy>& pieces) {
  std::vector<std::string> lines;
  uint32_t base = 0xFFFFFFFFu;
  for (const ChunkCopy& p : pieces) {
    size_t i = 0;
    while (i < p.data.size()) {
      uint32_t at = p.start + static_cast<uint32_t>(i);
      if ((at & 0xFFFF0000u) != base) {
        base = at & 0xFFFF0000u;
        lines.push_back(IntelBase(4, static_cast<uint16_t>(base >> 16)));
      }
      size_t n = std::min<size_t>({32, p.data.size() - i, 0x10000 - (at & 0xFFFF)});
      lines.push_back(IntelData(static_cast<uint16_t>(at), Bytes(p.data.begin() + i, p.data.begin() + i + n)));
      i += n;
    }
  }
  lines.push_back(IntelEnd());
  return Lines(lines);
}

inline void PrintTo(const ChunkCopy& c, std::ostream* os) {
  *os << "{0x" << std::hex << c.start << ", " << std::dec << c.data.size() << " bytes}";
}

}  // namespace qs::fw::test
