// Stands in for netsh.exe in the installer test's Wine prefix (Wine's netsh
// has no advfirewall): appends its arguments, one call a line in UTF-8, to
// the file named by QS_NETSH_LOG, and answers as netsh does.
#include <windows.h>

#include <stdio.h>

static const wchar_t* SkipProgramName(const wchar_t* s) {
  if (*s == L'"') {
    ++s;
    while (*s && *s != L'"') ++s;
    if (*s) ++s;
  } else {
    while (*s && *s != L' ' && *s != L'\t') ++s;
  }
  while (*s == L' ' || *s == L'\t') ++s;
  return s;
}

int main(void) {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"QS_NETSH_LOG", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    fputs("netsh stand-in: QS_NETSH_LOG is not set\n", stderr);
    return 2;
  }
  const wchar_t* args = SkipProgramName(GetCommandLineW());
  static char text[65536];
  int len = WideCharToMultiByte(CP_UTF8, 0, args, -1, text, (int)sizeof text - 1, NULL, NULL);
  if (len <= 0) return 2;
  text[len - 1] = '\n';  // in place of the terminating zero
  HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  BOOL ok = WriteFile(f, text, (DWORD)len, &written, NULL) && written == (DWORD)len;
  CloseHandle(f);
  if (!ok) return 2;
  puts("Ok.\n");
  return 0;
}
