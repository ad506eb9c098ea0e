/* Holds a file open the way a virus scanner or a backup agent holds an
   installed file: opened for reading, sharing reads only. While it runs, the
   file can be read but neither written over, renamed nor deleted; every such
   attempt meets a sharing violation.

     hold_file.exe <path> <ready-file>

   Once the file is open it creates <ready-file>, and it lets go of the file
   (and ends) when <ready-file> is deleted. Ends with 1 when the file cannot
   be opened, creating no <ready-file>. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: hold_file.exe <path> <ready-file>\n");
    return 2;
  }
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (held == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "hold_file: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready == INVALID_HANDLE_VALUE) {
    CloseHandle(held);
    return 1;
  }
  CloseHandle(ready);
  while (GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES) Sleep(100);
  CloseHandle(held);
  return 0;
}
