#include <windows.h>

#include "platform/file.h"

namespace qs::plat {

namespace {
const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
}  // namespace

bool FileExists(const std::u16string& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

File::~File() { Close(); }

bool File::OpenRead(const std::u16string& path) {
  Close();
  HANDLE h = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

bool File::OpenWrite(const std::u16string& path, bool append) {
  Close();
  HANDLE h = CreateFileW(W(path), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

void File::Close() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
}

long long File::Read(void* buf, size_t len) {
  if (!handle_) return -1;
  DWORD want = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
  DWORD got = 0;
  if (!ReadFile(handle_, buf, want, &got, nullptr)) return -1;
  return got;
}

bool File::Write(const void* buf, size_t len) {
  if (!handle_) return false;
  const auto* p = static_cast<const char*>(buf);
  while (len) {
    DWORD put = 0;
    DWORD want = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
    if (!WriteFile(handle_, p, want, &put, nullptr) || put == 0) return false;
    p += put;
    len -= put;
  }
  return true;
}

long long File::Size() const {
  LARGE_INTEGER li;
  if (!handle_ || !GetFileSizeEx(handle_, &li)) return -1;
  return li.QuadPart;
}

bool DeleteFilePath(const std::u16string& path) { return DeleteFileW(W(path)) != 0; }

bool MakeTempFile(const std::u16string& prefix, std::u16string& pathOut) {
  wchar_t dir[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH) return false;
  if (GetTempFileNameW(dir, W(prefix), 0, name) == 0) return false;
  pathOut.assign(reinterpret_cast<const char16_t*>(name));
  return true;
}

std::u16string ModuleFolder() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleFolder), &self);
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(self, buf, 32768);
  if (n == 0 || n >= 32768) return u".";
  std::u16string p(reinterpret_cast<const char16_t*>(buf), n);
  size_t slash = p.find_last_of(u"\\/");
  return slash == std::u16string::npos ? u"." : p.substr(0, slash);
}

bool CreateFolders(const std::u16string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\' || path[i] == u'/') {
      std::u16string part = path.substr(0, i);
      if (part.size() == 2 && part[1] == u':') continue;
      if (!CreateDirectoryW(W(part), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
  }
  return true;
}

}  // namespace qs::plat
