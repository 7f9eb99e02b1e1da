// KVxR_SetFirmwareFile: names the firmware that later updates and recovery
// write. The work is in firmware/; this only moves values across the boundary.
#include <string>

#include "firmware/firmware_file_state.h"
#include "firmware/firmware_package.h"
#include "library/KV-xR_update.h"
#include "library/fence.h"

static_assert(sizeof(KVxR_WCHAR) == sizeof(char16_t), "wide text is UTF-16");

namespace {
// Longest path a caller may name (the system's own limit for wide paths).
constexpr size_t kMaxPathChars = 32767;

bool CopyPath(const KVxR_WCHAR* path, std::u16string& out) {
  if (!path) return false;
  const auto* p = reinterpret_cast<const char16_t*>(path);
  size_t n = 0;
  while (n <= kMaxPathChars && p[n]) ++n;
  if (n == 0 || n > kMaxPathChars) return false;
  out.assign(p, n);
  return true;
}
}  // namespace

extern "C" KVXR_API int32_t KVXR_CALL KVxR_SetFirmwareFile(const KVxR_WCHAR* path, KVxR_WCHAR* versionOut,
                                                          uint32_t capacity) {
  // Out of memory: the file could not be taken.
  return qs::kvxr::Fenced(KVXR_NOT_FIRMWARE_FILE, [&]() -> int32_t {
    std::u16string p;
    if (!CopyPath(path, p)) return KVXR_FILE_NOT_FOUND;
    uint32_t major = 0, minor = 0;
    int32_t st = qs::fw::FirmwareFileState::Instance().SetFirmwareFile(p, major, minor);
    if (st == KVXR_OK) qs::fw::FormatVersionText(major, minor, reinterpret_cast<char16_t*>(versionOut), capacity);
    return st;
  });
}
