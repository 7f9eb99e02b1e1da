// Linux: the RAM program built into the shared object, in a section of its
// own ("qs_res_binary_102"), and made known to the module's resource look-up
// as type "binary", identifier 102. The build names the file to embed.
#include <cstddef>
#include <cstdint>

#include "library/ram_program.h"
#include "platform/embedded_resource.h"

#ifndef QS_RAM_PROGRAM_FILE
#error "QS_RAM_PROGRAM_FILE names the program file to embed"
#endif

__asm__(
    ".pushsection qs_res_binary_102,\"a\"\n"
    ".balign 16\n"
    ".globl qs_ram_program_begin\n"
    ".hidden qs_ram_program_begin\n"
    "qs_ram_program_begin:\n"
    ".incbin \"" QS_RAM_PROGRAM_FILE "\"\n"
    ".globl qs_ram_program_end\n"
    ".hidden qs_ram_program_end\n"
    "qs_ram_program_end:\n"
    ".popsection\n");

extern "C" const uint8_t qs_ram_program_begin[];
extern "C" const uint8_t qs_ram_program_end[];

namespace {

qs::plat::EmbeddedResource g_ramProgram{qs::kvxr::kRamProgramType, qs::kvxr::kRamProgramId, nullptr, 0, nullptr};

struct Registration {
  Registration() {
    g_ramProgram.data = qs_ram_program_begin;
    g_ramProgram.size = static_cast<size_t>(qs_ram_program_end - qs_ram_program_begin);
    qs::plat::RegisterEmbeddedResource(&g_ramProgram);
  }
} g_registration;

}  // namespace
