// Linux only: how an embedding file makes its data known to
// FindModuleResource. A file that embeds data defines one node with static
// storage and registers it from a static initialiser; nodes are never removed.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::plat {

struct EmbeddedResource {
  const char16_t* type;
  uint16_t id;
  const uint8_t* data;
  size_t size;
  EmbeddedResource* next;
};

void RegisterEmbeddedResource(EmbeddedResource* node);

}  // namespace qs::plat
