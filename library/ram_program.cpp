#include "library/ram_program.h"

#include "platform/module_resource.h"

namespace qs::kvxr {

RamProgramStatus FindProgramResource(const char16_t* type, uint16_t id, RamProgram& out) {
  out = RamProgram{};
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (!plat::FindModuleResource(type, id, data, size)) return RamProgramStatus::Missing;
  if (!data || size == 0) return RamProgramStatus::Empty;
  out.data = data;
  out.size = size;
  return RamProgramStatus::Found;
}

RamProgramStatus FindRamProgram(RamProgram& out) { return FindProgramResource(kRamProgramType, kRamProgramId, out); }

}  // namespace qs::kvxr
