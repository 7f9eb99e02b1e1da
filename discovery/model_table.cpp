#include "discovery/model_table.h"

#include <cstring>

#include "platform/text.h"

namespace qs::disc {

namespace {

const ModelRow kRows[] = {
    {"QMA271", "QMA-2711", 2, 0, 0, 0, 0},   {"QMA523", "QMA-5231", 2, 0, 0, 0, 0},
    {"QMA11", "QMA-11", 2, 0, 0, 0, 0},      {"QMAJJ", "QMA-11JJ", 1, 0, 0, 0, 0},
    {"QMA", "QMA-99", 1, 0, 0, 0, 0},        {"KOV239", "YV-2391R", 3, 0, 0, 0, 0},
    {"RMT235", "RMT-2359", 4, 1, 1, 0, 0},   {"RMT539", "RMT-539", 5, 1, 1, 0, 0},
    {"QM235B", "QMA-2351B", 6, 0, 1, 0, 0},  {"Q235BR", "QMA-2351BR", 7, 0, 1, 0, 0},
    {"QM99VB", "QMA-991B", 8, 0, 1, 0, 0},   {"Q99VBR", "QMA-991BR", 9, 0, 1, 0, 0},
    {"A5411+", "A5411+", 10, 1, 1, 0, 0},    {"A5261+", "A5261+", 11, 1, 1, 0, 0},
    {"KV3R", "KV-3R", 12, 0, 1, 1, 1},       {"KV2R", "KV-2R", 13, 0, 1, 1, 1},
    {"KV1R", "KV-1R", 14, 0, 1, 1, 1},
};

}  // namespace

size_t ModelCount() { return sizeof kRows / sizeof kRows[0]; }

const ModelRow& ModelAt(size_t index) { return kRows[index < ModelCount() ? index : 0]; }

const ModelRow* FindModelByCode(const uint8_t* bytes, size_t len, size_t* codeLen) {
  if (!bytes) return nullptr;
  for (const ModelRow& r : kRows) {
    size_t n = std::strlen(r.code);
    if (n <= len && std::memcmp(bytes, r.code, n) == 0) {
      if (codeLen) *codeLen = n;
      return &r;
    }
  }
  return nullptr;
}

const ModelRow* FindModelByName(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string_view rest = text.substr(i);
  for (const ModelRow& r : kRows) {
    std::string_view name(r.displayName);
    if (rest.substr(0, name.size()) == name) return &r;
  }
  return nullptr;
}

void EnumModelNames(ModelNameFn fn, void* context) {
  for (const ModelRow& r : kRows) fn(plat::AnsiToWide(r.displayName), context);
}

}  // namespace qs::disc
