#include "firmware/firmware_info.h"

#include <picojson.h>

#include <cstring>
#include <exception>

#include "library/KV-xR_update.h"
#include "platform/text.h"

namespace qs::fw {

namespace {
constexpr char kMarker[] = "fw.info";
constexpr size_t kMarkerSize = sizeof kMarker - 1;

void FillWindow(IBinaryImage* image, uint8_t* window) {
  std::memset(window, 0, kInfoWindowSize);
  const uint64_t lo = kInfoWindowStart, hi = uint64_t{kInfoWindowStart} + kInfoWindowSize;  // hi exclusive
  int32_t count = image->GetChunkCount();
  for (int32_t i = 0; i < count; ++i) {
    IBinaryImageChunk* raw = nullptr;
    if (!image->GetChunk(i, &raw) || !raw) continue;
    Ref<IBinaryImageChunk> c = Ref<IBinaryImageChunk>::Adopt(raw);
    uint64_t start = c->GetStartAddress();
    uint64_t end = start + ChunkSize(c.get());  // exclusive
    uint64_t from = start > lo ? start : lo;
    uint64_t to = end < hi ? end : hi;
    if (from >= to) continue;
    std::memcpy(window + (from - lo), c->GetData() + (from - start), static_cast<size_t>(to - from));
  }
}

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Whitespace, an optional "+", then at least one digit.
bool ReadNumber(const std::u16string& s, size_t& pos, uint32_t& out) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  if (pos < s.size() && s[pos] == u'+') ++pos;
  uint64_t v = 0;
  size_t digits = 0;
  while (pos < s.size() && s[pos] >= u'0' && s[pos] <= u'9') {
    v = v * 10 + static_cast<uint64_t>(s[pos] - u'0');
    if (v > 0xFFFFFFFFull) return false;
    ++pos;
    ++digits;
  }
  out = static_cast<uint32_t>(v);
  return digits > 0;
}

int32_t CheckInfoText(const char* begin, const char* end, FirmwareInfo& info) {
  picojson::value v;
  std::string err;
  picojson::parse(v, begin, end, &err);
  if (!err.empty() || !v.is<picojson::object>()) return KVXR_BAD_FW_INFO;
  const picojson::object& o = v.get<picojson::object>();
  auto model = o.find("model");
  auto version = o.find("version");
  if (model == o.end() || version == o.end() || !model->second.is<std::string>() ||
      !version->second.is<std::string>())
    return KVXR_BAD_FW_INFO;
  if (model->second.get<std::string>() != std::string("KV-xR")) return KVXR_WRONG_FAMILY;
  uint32_t major = 0, minor = 0;
  if (!ParseVersionText(plat::Utf8ToWide(version->second.get<std::string>()), major, minor)) return KVXR_BAD_FW_VERSION;
  info.major = major;
  info.minor = minor;
  return KVXR_OK;
}
}  // namespace

bool ParseVersionText(const std::u16string& text, uint32_t& major, uint32_t& minor) {
  size_t pos = 0;
  uint32_t a = 0, b = 0;
  if (!ReadNumber(text, pos, a)) return false;
  if (pos >= text.size() || text[pos] != u'.') return false;
  ++pos;
  if (!ReadNumber(text, pos, b)) return false;
  major = a;
  minor = b;
  return true;
}

int32_t ReadFirmwareInfo(IBinaryImage* image, FirmwareInfo& info) {
  if (!image) return KVXR_NO_FW_INFO;
  uint8_t window[kInfoWindowSize];
  FillWindow(image, window);
  const char* w = reinterpret_cast<const char*>(window);
  for (size_t at = 0; at + kMarkerSize <= kInfoWindowSize; ++at) {
    if (std::memcmp(w + at, kMarker, kMarkerSize) != 0) continue;
    const char* text = w + at + kMarkerSize;
    const char* end = static_cast<const char*>(std::memchr(text, 0, kInfoWindowSize - at - kMarkerSize));
    if (!end) end = w + kInfoWindowSize;
    try {
      return CheckInfoText(text, end, info);
    } catch (const std::exception&) {
      return KVXR_BAD_FW_INFO;  // out of memory inside the JSON reader
    }
  }
  return KVXR_NO_FW_INFO;
}

}  // namespace qs::fw
