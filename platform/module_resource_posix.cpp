#include <string>

#include "platform/embedded_resource.h"
#include "platform/module_resource.h"

namespace qs::plat {

namespace {
// Constant-initialised, so registrations from any static initialiser find it.
EmbeddedResource* g_head = nullptr;
}  // namespace

void RegisterEmbeddedResource(EmbeddedResource* node) {
  node->next = g_head;
  g_head = node;
}

bool FindModuleResource(const char16_t* type, uint16_t id, const uint8_t*& data, size_t& size) {
  for (const EmbeddedResource* r = g_head; r; r = r->next) {
    if (r->id == id && std::u16string_view(r->type) == std::u16string_view(type)) {
      data = r->data;
      size = r->size;
      return true;
    }
  }
  return false;
}

}  // namespace qs::plat
