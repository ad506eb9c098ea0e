/* A pre-processor that records how it was called: appends one line with
 * its arguments (argv[1..] joined by single spaces) to the file named by
 * MEVRID_RECORD_FILE, else to record.txt beside the program, and exits 0.
 * MEVRID_RECORD_SLEEP_MS makes it wait that long first, so tests can tell
 * a caller that waits from one that does not. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#endif

static void sleep_ms(long ms) {
#ifdef _WIN32
  Sleep((DWORD)ms);
#else
  struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&wait, NULL);
#endif
}

/* record.txt in the directory of this program's own file. */
static int default_record_file(char* path, size_t size) {
  char self[4096];
  char* slash;
#ifdef _WIN32
  DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
  if (length == 0 || length >= sizeof self) return 0;
  slash = strrchr(self, '\\');
#else
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return 0;
  self[length] = '\0';
  slash = strrchr(self, '/');
#endif
  if (!slash) return 0;
  slash[1] = '\0';
  return snprintf(path, size, "%srecord.txt", self) < (int)size;
}

int main(int argc, char** argv) {
  const char* sleep_text = getenv("MEVRID_RECORD_SLEEP_MS");
  const char* file = getenv("MEVRID_RECORD_FILE");
  char default_path[4200];
  char line[8192];
  size_t used = 0;
  int i;
  if (sleep_text && *sleep_text) sleep_ms(atol(sleep_text));
  if (!file || !*file) {
    if (!default_record_file(default_path, sizeof default_path)) return 2;
    file = default_path;
  }
  line[0] = '\0';
  for (i = 1; i < argc; ++i) {
    int n = snprintf(line + used, sizeof line - used, "%s%s", i > 1 ? " " : "", argv[i]);
    if (n < 0 || (size_t)n >= sizeof line - used - 1) return 3;
    used += (size_t)n;
  }
  line[used++] = '\n';
#ifdef _WIN32
  {
    FILE* out = fopen(file, "ab");
    if (!out) return 4;
    fwrite(line, 1, used, out);
    fclose(out);
  }
#else
  {
    /* One write to a file opened for appending: lines of callers that run
     * at once never interleave. */
    int fd = open(file, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return 4;
    if (write(fd, line, used) != (ssize_t)used) return 5;
    close(fd);
  }
#endif
  return 0;
}
