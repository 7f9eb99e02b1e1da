#include "fuzz/fuzz_reader_model.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "firmware/hex_record.h"
#include "firmware/intellec_hex.h"
#include "firmware/motorola_hex.h"

namespace qs::fw::fuzz {

namespace {

constexpr size_t kLongestLine = 16383;  // one less than the line buffer

// The lines of the text: line ends skipped, a line taken only with its
// terminator, a NUL or an over-long line ends the text.
std::vector<std::string_view> Lines(const uint8_t* text, size_t size) {
  std::vector<std::string_view> lines;
  const char* t = reinterpret_cast<const char*>(text);
  size_t pos = 0;
  for (;;) {
    while (pos < size && (t[pos] == '\r' || t[pos] == '\n')) ++pos;
    size_t end = pos;
    while (end < size && t[end] != '\r' && t[end] != '\n' && t[end] != 0) ++end;
    if (end == size || end == pos || end - pos > kLongestLine) return lines;
    lines.emplace_back(t + pos, end - pos);
    pos = end;
  }
}

struct Record {
  uint32_t address;
  std::vector<uint8_t> data;
};

// Data records in file order up to the termination record; false when the
// text ends first or a line is refused.
bool Records(const uint8_t* text, size_t size, Format format, std::vector<Record>& out) {
  HexRecord rec;
  uint32_t base = 0, dataRecords = 0;
  for (std::string_view line : Lines(text, size)) {
    if (format == Format::IntelHex) {
      if (!IntellecHex::ParseLine(line, rec)) return false;
      if (rec.kind == 1) return true;
      if (rec.kind == 2 || rec.kind == 4) base = rec.value;
      if (rec.kind == 0) out.push_back(Record{base + rec.value, {rec.data, rec.data + rec.length}});
    } else {
      if (!MotorolaHex::ParseLine(line, rec)) return false;
      if (rec.kind >= 7) return true;
      if (rec.kind == 5 && rec.value != (dataRecords & 0xFFFF)) return false;
      if (rec.kind == 6 && rec.value != (dataRecords & 0xFFFFFF)) return false;
      if (rec.kind >= 1 && rec.kind <= 3) {
        out.push_back(Record{rec.value, {rec.data, rec.data + rec.length}});
        ++dataRecords;
      }
    }
  }
  return false;
}

uint64_t End(const ModelChunk& c) { return uint64_t{c.start} + c.data.size(); }

}  // namespace

bool ModelLoad(const uint8_t* text, size_t size, Format format, std::vector<ModelChunk>& chunks) {
  chunks.clear();
  std::vector<Record> records;
  if (!Records(text, size, format, records)) return false;
  // A record that continues the run before it, or ends where that run starts, joins it.
  std::vector<ModelChunk> runs;
  for (const Record& r : records) {
    if (r.data.empty()) continue;
    if (uint64_t{r.address} + r.data.size() - 1 > 0xFFFFFFFFull) return false;
    if (!runs.empty() && End(runs.back()) == r.address) {
      runs.back().data.insert(runs.back().data.end(), r.data.begin(), r.data.end());
    } else if (!runs.empty() && uint64_t{r.address} + r.data.size() == runs.back().start) {
      runs.back().data.insert(runs.back().data.begin(), r.data.begin(), r.data.end());
      runs.back().start = r.address;
    } else {
      runs.push_back(ModelChunk{r.address, r.data});
    }
  }
  std::stable_sort(runs.begin(), runs.end(),
                   [](const ModelChunk& a, const ModelChunk& b) { return a.start < b.start; });
  for (ModelChunk& r : runs) {
    if (!chunks.empty() && End(chunks.back()) == r.start)
      chunks.back().data.insert(chunks.back().data.end(), r.data.begin(), r.data.end());
    else
      chunks.push_back(std::move(r));
  }
  return true;
}

void CheckAgainstModel(const uint8_t* text, size_t size, Format format, IBinaryImage* image, size_t limit) {
  std::vector<ModelChunk> want;
  bool loads = ModelLoad(text, size, format, want);
  if (!image) {
    // Data and bookkeeping stay below about 12 bytes per byte of text.
    if (loads && size * 16 < limit) std::abort();
    return;
  }
  if (!loads || image->GetChunkCount() != static_cast<int32_t>(want.size())) std::abort();
  for (size_t i = 0; i < want.size(); ++i) {
    IBinaryImageChunk* c = nullptr;
    if (!image->GetChunk(static_cast<int32_t>(i), &c) || !c) std::abort();
    bool same = c->GetStartAddress() == want[i].start && ChunkSize(c) == want[i].data.size() &&
                std::equal(want[i].data.begin(), want[i].data.end(), c->GetData());
    c->Release();
    if (!same) std::abort();
  }
}

}  // namespace qs::fw::fuzz
