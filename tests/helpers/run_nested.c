/* A pre-processor that runs another program and ends with its exit status:
 * argv[1] is the program (a host path), and the arguments after it are
 * passed on, except the last one: the notification switch ("-e" or "-b")
 * that the caller appends to every pre-processor's command line. */
#include <stdio.h>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  argv[argc - 1] = NULL;
#ifdef _WIN32
  return (int)_spawnv(_P_WAIT, argv[1], (const char* const*)(argv + 1));
#else
  {
    int status = 0;
    pid_t child = fork();
    if (child == 0) {
      execv(argv[1], argv + 1);
      _exit(127);
    }
    if (child < 0 || waitpid(child, &status, 0) != child) return 3;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
  }
#endif
}
