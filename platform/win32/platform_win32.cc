// The Windows side of the platform operations that are not Win32 calls: on
// Windows the C runtime already speaks Windows paths, so each is the runtime's
// own function. Kept as calls into msvcrt on purpose: the temporary names of
// tmpnam ("\s<pid base 32>.<counter>" in the root of the current drive) and the
// locale names ("Japanese_Japan.932") are the runtime's, and the tool relies on
// exactly those forms.
#include <io.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

int PlatformRemove(const char* path) { return remove(path); }

int PlatformRename(const char* from, const char* to) { return rename(from, to); }

char* PlatformTmpnam() { return tmpnam(nullptr); }

// Asking for read and write permission is how the runtime clears the
// read-only attribute.
int PlatformMakeWritable(const char* path) { return _chmod(path, _S_IREAD | _S_IWRITE); }

const char* PlatformGetEnv(const char* name) { return getenv(name); }

const char* PlatformSetUserLocale() {
  setlocale(LC_ALL, "");
  return setlocale(LC_CTYPE, nullptr);
}
