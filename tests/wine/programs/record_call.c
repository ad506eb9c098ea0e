/* A pre-processor that records its calls: every run appends one line with its
   arguments, joined by single blanks, to calls.log beside its own executable,
   and ends at once with status 0. Registered as "<dir>\record_call.exe TAG",
   a reference's "-e" and "-b" notifications (and the " -q" of a quiet run)
   show up as "TAG -e -q" lines in the order the tool ran them.

   Portable on purpose: the Wine suite builds it with MinGW for the prefix and
   with the host compiler for the emulated machine, so one scenario leaves the
   same log on both. */
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define SEPARATOR '\\'
static int OwnPath(char* buffer, size_t size) {
  DWORD length = GetModuleFileNameA(NULL, buffer, (DWORD)size);
  return length > 0 && length < size;
}
#else
#include <unistd.h>
#define SEPARATOR '/'
static int OwnPath(char* buffer, size_t size) {
  ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
  if (length <= 0) return 0;
  buffer[length] = '\0';
  return 1;
}
#endif

int main(int argc, char** argv) {
  char path[4096];
  if (!OwnPath(path, sizeof path)) return 1;
  char* slash = strrchr(path, SEPARATOR);
  if (!slash) return 1;
  snprintf(slash + 1, sizeof path - (size_t)(slash + 1 - path), "calls.log");

  /* Binary mode: the log has "\n" line ends on every platform. */
  FILE* log = fopen(path, "ab");
  if (!log) return 1;
  for (int i = 1; i < argc; ++i) fprintf(log, "%s%s", i > 1 ? " " : "", argv[i]);
  fputc('\n', log);
  fclose(log);
  return 0;
}
