// Holds a file open with no sharing, as a running program holds its own
// image on Windows, until a release file appears (at most 60 s).
// usage: file_holder FILE RELEASE READY  (READY is created once FILE is held)
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HANDLE h = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 3;
  HANDLE ready = CreateFileA(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready == INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return 4;
  }
  CloseHandle(ready);
  for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
  CloseHandle(h);
  return 0;
}
