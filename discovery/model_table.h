// The device models the program recognises. Constant data; lookups walk the
// rows in table order and the first match wins, so order matters.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::disc {

struct ModelRow {
  const char* code;         // compact code that devices send, at most 8 characters
  const char* displayName;  // shown to the user; sent by the library in its device lines
  int32_t modelNumber;
  uint8_t webPage;
  uint8_t listed;  // replies to the program's own datagram scan create records
  uint8_t networkSetup;
  uint8_t wink;
};

constexpr size_t kModelCodeMax = 8;

size_t ModelCount();
const ModelRow& ModelAt(size_t index);

// First row whose code is a prefix of the input (never reading past `len`).
// codeLen receives the matched code's length.
const ModelRow* FindModelByCode(const uint8_t* bytes, size_t len, size_t* codeLen = nullptr);

// After leading spaces and tabs, the first row whose display name is a prefix
// of the rest; case-sensitive.
const ModelRow* FindModelByName(std::string_view text);

using ModelNameFn = void (*)(const std::u16string& name, void* context);
void EnumModelNames(ModelNameFn fn, void* context);

// The KV-xR family.
inline bool IsKvxrModel(int32_t modelNumber) { return modelNumber >= 12 && modelNumber <= 14; }

}  // namespace qs::disc
