#include <windows.h>

#include "platform/module_resource.h"

namespace qs::plat {

bool FindModuleResource(const char16_t* type, uint16_t id, const uint8_t*& data, size_t& size) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&FindModuleResource), &self))
    return false;
  HRSRC res = FindResourceW(self, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(type));
  if (!res) return false;
  HGLOBAL loaded = LoadResource(self, res);
  if (!loaded) return false;
  const DWORD n = SizeofResource(self, res);
  const void* p = LockResource(loaded);
  if (!p && n) return false;
  data = static_cast<const uint8_t*>(p);
  size = n;
  return true;
}

}  // namespace qs::plat
