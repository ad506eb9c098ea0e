/* Reads back what the Windows build put into the component's files, the way
   Windows itself sees them: the version resource of each file named on the
   command line ("<file>: FileVersion <text>, ProductName <text>"), and for a
   DLL, the version its exports answer once loaded ("<file>: loads, answers
   <major>.<minor>"). The Wine suite compares the lines with what the release
   must hold: version 4.0 everywhere. Exit status 1 when a file has no
   version resource or a DLL does not load. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* StringValue(void* block, const char* name) {
  char query[128];
  char* value = NULL;
  UINT length = 0;
  snprintf(query, sizeof query, "\\StringFileInfo\\040904b0\\%s", name);
  if (!VerQueryValueA(block, query, (void**)&value, &length) || length == 0) return "(none)";
  return value;
}

static int CheckVersion(const char* path, const char* shown) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) {
    printf("%s: no version resource\n", shown);
    return 0;
  }
  void* block = malloc(size);
  int ok = block && GetFileVersionInfoA(path, 0, size, block);
  if (ok) printf("%s: FileVersion %s, ProductName %s\n", shown, StringValue(block, "FileVersion"),
                 StringValue(block, "ProductName"));
  else printf("%s: unreadable version resource\n", shown);
  free(block);
  return ok;
}

typedef int (*VersionFunction)(void);

static int CheckLibrary(const char* path, const char* shown) {
  HMODULE library = LoadLibraryA(path);
  if (!library) {
    printf("%s: does not load (error %lu)\n", shown, GetLastError());
    return 0;
  }
  VersionFunction major = (VersionFunction)(void (*)(void))GetProcAddress(library, "QelmotVersionMajor");
  VersionFunction minor = (VersionFunction)(void (*)(void))GetProcAddress(library, "QelmotVersionMinor");
  if (major && minor) printf("%s: loads, answers %d.%d\n", shown, major(), minor());
  else printf("%s: loads, exports missing\n", shown);
  FreeLibrary(library);
  return major && minor;
}

int main(int argc, char** argv) {
  int ok = 1;
  for (int i = 1; i < argc; ++i) {
    const char* slash = strrchr(argv[i], '\\');
    const char* shown = slash ? slash + 1 : argv[i];
    ok &= CheckVersion(argv[i], shown);
    size_t length = strlen(argv[i]);
    if (length > 4 && !_stricmp(argv[i] + length - 4, ".dll")) ok &= CheckLibrary(argv[i], shown);
  }
  return ok ? 0 : 1;
}
