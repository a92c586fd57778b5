// A helper of the end-to-end tests under wine: holds a file open as a viewer or a scanner does
// on Windows, sharing reading only, so that no other program may write, remove or replace it.
//
//   hold-file.exe FILE READY
//
// Opens FILE, then creates READY to say it holds it, and keeps FILE open until READY is removed
// (or a minute has passed). Exit status 1 when FILE does not open.

#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  const HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  for (int waited = 0; waited < 600 && GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES;
       ++waited) {
    Sleep(100);
  }
  CloseHandle(held);
  return 0;
}
