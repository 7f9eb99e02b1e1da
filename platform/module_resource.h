// Read-only data built into the module (the DLL or shared object, or the
// program) that holds the calling code, found by a type name and a numeric
// identifier. Windows: a resource of the module. Linux: data the module's
// build embedded and registered at load time (embedded_resource.h).
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::plat {

// false when the module has no such data; size may be 0.
bool FindModuleResource(const char16_t* type, uint16_t id, const uint8_t*& data, size_t& size);

}  // namespace qs::plat
