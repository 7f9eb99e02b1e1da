#include "app/firmware_search.h"

#include <windows.h>

#include <string>

#include "app/logic/firmware_choice.h"
#include "app/win_text.h"
#include "library/KV-xR_update.h"

namespace qs::app {

void SearchFirmwareFiles() {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  std::wstring folder(exe, n);
  size_t slash = folder.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((folder + L"*.hex").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  FirmwareChoice choice;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::wstring path = folder + fd.cFileName;
    wchar_t version[1000] = {};
    int32_t r = KVxR_SetFirmwareFile(path.c_str(), version, 1000);
    version[999] = L'\0';
    choice.Offer(U(path), r, U(version));
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  LastAcceptedFirmware() = choice.chosen();
}

}  // namespace qs::app
