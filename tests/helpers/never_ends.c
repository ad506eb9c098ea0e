/* A pre-processor that never ends: the caller's wait must run out, and
 * the test kills it afterwards. */
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(void) {
  for (;;) {
#ifdef _WIN32
    Sleep(INFINITE);
#else
    pause();
#endif
  }
}
