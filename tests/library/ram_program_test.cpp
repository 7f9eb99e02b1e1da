// The RAM program resource: found through the accessor in a program that
// carries the same embedded data as the library, missing or empty where it
// should be, and present byte for byte in the real library file: the DLL's
// resource (type "binary", 102) under Wine, the shared object's section on Linux.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "library/ram_program.h"
#include "runtime/bytes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/embedded_resource.h"
#endif

namespace qs::kvxr {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The program file this build embedded (the stand-in or the real program).
Bytes BuiltProgram() { return FileBytes(QS_RAM_PROGRAM_FILE); }

TEST(RamProgram, TheAccessorFindsTheEmbeddedProgram) {
  const Bytes want = BuiltProgram();
  ASSERT_FALSE(want.empty());
  RamProgram p;
  ASSERT_EQ(FindRamProgram(p), RamProgramStatus::Found);
  ASSERT_EQ(p.size, want.size());
  EXPECT_EQ(std::memcmp(p.data, want.data(), want.size()), 0);
  // The same pointer every time: the data stay where the module put them.
  RamProgram again;
  ASSERT_EQ(FindRamProgram(again), RamProgramStatus::Found);
  EXPECT_EQ(again.data, p.data);
}

TEST(RamProgram, MissingAndEmptyResourcesAreStatuses) {
  RamProgram p;
  p.size = 5;
  EXPECT_EQ(FindProgramResource(kRamProgramType, 103, p), RamProgramStatus::Missing);
  EXPECT_EQ(p.size, 0u);
  EXPECT_EQ(p.data, nullptr);
  EXPECT_EQ(FindProgramResource(u"binaryx", kRamProgramId, p), RamProgramStatus::Missing);
#ifndef _WIN32
  static plat::EmbeddedResource empty{u"binary", 104, nullptr, 0, nullptr};
  plat::RegisterEmbeddedResource(&empty);
#endif
  // (The Windows test program carries an empty resource 104 in its resources.)
  EXPECT_EQ(FindProgramResource(kRamProgramType, 104, p), RamProgramStatus::Empty);
}

TEST(RamProgram, TheStandInBeginsLikeAProgramForTheDevicesProcessor) {
  const Bytes b = BuiltProgram();
  ASSERT_GE(b.size(), 0x100u);
  static const char kMarker[] = "Quillscan RAM program stand-in";
  if (std::memcmp(b.data() + 0xC0, kMarker, sizeof kMarker - 1) != 0) GTEST_SKIP() << "the real program is embedded";
  EXPECT_EQ(b.size(), 107404u);
  const uint32_t sp = bytes::GetLe32(b.data());
  EXPECT_EQ(sp, 0x20020000u);                // top of RAM above the program
  EXPECT_EQ(sp % 8, 0u);
  for (int v = 1; v < 48; ++v) {
    const uint32_t handler = bytes::GetLe32(b.data() + 4 * v);
    if (v == 7 || v == 8 || v == 9 || v == 10 || v == 13) {
      EXPECT_EQ(handler, 0u) << v;             // reserved entries
      continue;
    }
    EXPECT_EQ(handler & 1, 1u) << v;           // Thumb code
    EXPECT_GE(handler, 0x20000000u) << v;      // inside the program in RAM
    EXPECT_LT(handler, 0x20000000u + b.size()) << v;
  }
}

#ifdef _WIN32

TEST(RamProgram, TheDllCarriesItAsResourceBinary102) {
  const Bytes want = BuiltProgram();
  HMODULE dll = LoadLibraryW(L"KV-xR_update.dll");
  ASSERT_NE(dll, nullptr);
  HRSRC res = FindResourceW(dll, MAKEINTRESOURCEW(102), L"binary");
  ASSERT_NE(res, nullptr);
  const DWORD size = SizeofResource(dll, res);
  const void* data = LockResource(LoadResource(dll, res));
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(size, want.size());
  EXPECT_EQ(std::memcmp(data, want.data(), size), 0);
  EXPECT_EQ(FindResourceW(dll, MAKEINTRESOURCEW(103), L"binary"), nullptr);
  FreeLibrary(dll);
}

#else

// The named section of the shared object, read from the file's ELF headers.
bool ElfSection(const Bytes& f, const std::string& name, Bytes& out) {
  if (f.size() < 64 || std::memcmp(f.data(), "\x7F" "ELF", 4) != 0 || f[4] != 2 || f[5] != 1) return false;
  auto u16 = [&](size_t o) { return bytes::GetLe16(f.data() + o); };
  auto u64 = [&](size_t o) { return uint64_t{bytes::GetLe32(f.data() + o)} | uint64_t{bytes::GetLe32(f.data() + o + 4)} << 32; };
  const uint64_t shoff = u64(0x28);
  const size_t shentsize = u16(0x3A), shnum = u16(0x3C), shstrndx = u16(0x3E);
  if (shentsize < 64 || shstrndx >= shnum || shoff + shnum * shentsize > f.size()) return false;
  const size_t strtab = static_cast<size_t>(u64(shoff + shstrndx * shentsize + 0x18));
  for (size_t i = 0; i < shnum; ++i) {
    const size_t h = static_cast<size_t>(shoff + i * shentsize);
    const size_t nameAt = strtab + bytes::GetLe32(f.data() + h);
    if (nameAt + name.size() + 1 > f.size() || std::memcmp(f.data() + nameAt, name.c_str(), name.size() + 1) != 0)
      continue;
    const uint64_t off = u64(h + 0x18), size = u64(h + 0x20);
    if (off + size > f.size()) return false;
    out.assign(f.begin() + static_cast<long>(off), f.begin() + static_cast<long>(off + size));
    return true;
  }
  return false;
}

TEST(RamProgram, TheSharedObjectCarriesItInItsOwnSection) {
  const Bytes want = BuiltProgram();
  const Bytes so = FileBytes(QS_KVXR_LIBRARY_FILE);
  ASSERT_FALSE(so.empty());
  Bytes section;
  ASSERT_TRUE(ElfSection(so, "qs_res_binary_102", section));
  EXPECT_EQ(section, want);
}

#endif

}  // namespace
}  // namespace qs::kvxr
