// The boot-time RAM program that KV-xR boot loaders take from the network
// before firmware can be written: a resource of the library's own module,
// type "binary", identifier 102 (on Linux embedded in the shared object). The
// library measures it and cuts it into blocks; it never looks inside.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::kvxr {

constexpr char16_t kRamProgramType[] = u"binary";
constexpr uint16_t kRamProgramId = 102;

enum class RamProgramStatus { Found, Missing, Empty };

struct RamProgram {
  const uint8_t* data = nullptr;  // valid for the module's lifetime
  size_t size = 0;
};

RamProgramStatus FindRamProgram(RamProgram& out);
// The same look-up for any type and identifier of the module.
RamProgramStatus FindProgramResource(const char16_t* type, uint16_t id, RamProgram& out);

}  // namespace qs::kvxr
